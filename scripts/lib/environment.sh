# Sourced by every script a person or CI runs (and by the Wine runner), so
# that a run does not depend on the caller's login environment.
#
# Locale: Wine converts file names through the Unix locale; under the POSIX
# locale it cannot create a file whose name holds a non-ASCII character (the
# extraction fixtures have such names), and Python's file and pipe encodings
# follow it too. C.UTF-8 exists on every Debian system without a locales
# package.
# Time zone: log lines and the package file name carry the local time; UTC
# keeps the programs' view and the harness's view of "now" the same.
export LANG=C.UTF-8
export LC_ALL=C.UTF-8
export TZ=UTC
