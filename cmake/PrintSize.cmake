# Prints the size of FILE against the 330,000-byte target of the 64-bit
# release.
file(SIZE "${FILE}" size)
math(EXPR kib "${size} / 1024")
get_filename_component(name "${FILE}" NAME)
message(STATUS "${name} size: ${size} bytes (${kib} KiB; target <= 330,000 bytes)")
