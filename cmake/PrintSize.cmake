# Prints the size of FILE against the 400 KB target.
file(SIZE "${FILE}" size)
math(EXPR kib "${size} / 1024")
get_filename_component(name "${FILE}" NAME)
message(STATUS "${name} size: ${size} bytes (${kib} KiB; target <= 400 KiB)")
