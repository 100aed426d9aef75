#!/bin/sh
# build_with_pkg_config.sh CXX SOURCE OUTPUT [EXTRA-FLAGS...]
# Builds SOURCE the way a program outside this tree would: compiler flags and libraries come
# only from `pkg-config vokra` (PKG_CONFIG_PATH chooses the build-tree or an installed file).
set -eu
cxx=$1 source=$2 output=$3
shift 3
cflags=$(pkg-config --cflags vokra)
libs=$(pkg-config --libs vokra)
# shellcheck disable=SC2086 # the pkg-config output is a list of flags
exec "$cxx" -std=c++20 -Wall -Wextra -Werror "$@" $cflags "$source" -o "$output" $libs
