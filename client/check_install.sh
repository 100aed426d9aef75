#!/bin/sh
# check_install.sh BUILD_DIR SOURCE_DIR CXX [EXTRA-FLAGS...]
# Installs libvokra's components (libvokra1, libvokra-dev, nvo-tools) into a scratch prefix and
# builds the example program against that installation with pkg-config only, as a program
# outside this tree would, then runs it.
# The SLP library is not part of them; it is taken from the build tree.
set -eu
build=$1 source=$2 cxx=$3
shift 3
prefix=$(mktemp -d "${TMPDIR:-/tmp}/vokra-install.XXXXXX")
trap 'rm -rf "$prefix"' EXIT

# The library directory below the prefix: lib, or the multiarch one (lib/x86_64-linux-gnu).
libdir=$("$(dirname "$0")/../tests/support/install-components" "$build" "$prefix" libvokra.so.1 \
         libvokra1 libvokra-dev nvo-tools)
for file in "$libdir"/libvokra.so "$libdir"/libvokra.so.1 "$libdir"/libvokra.so.1.0.0 \
            "$libdir"/pkgconfig/vokra.pc \
            include/vokra/tolm_client.h include/vokra/tolm_server_info.h \
            include/vokra/tolm_slp_info.h include/vokra/inet_socket.h \
            include/vokra/socket_util.h include/vokra/socket_exception.h \
            include/vokra/vokra_export.h bin/tolm-signal bin/tolm-listen; do
  if [ ! -e "$prefix/$file" ]; then
    echo "not installed: $file"
    exit 1
  fi
done
if grep -q '#include "client/' "$prefix"/include/vokra/*.h; then
  echo "installed headers still include the source layout"
  exit 1
fi

export PKG_CONFIG_PATH="$prefix/$libdir/pkgconfig"
cflags=$(pkg-config --define-variable=prefix="$prefix" --cflags vokra)
libs=$(pkg-config --define-variable=prefix="$prefix" --libs vokra)
case "$libs" in
  *"-L$prefix/$libdir"*"-lvokra"*) ;;
  *) echo "pkg-config --libs vokra gave: $libs"; exit 1 ;;
esac
# shellcheck disable=SC2086 # flag lists
"$cxx" -std=c++20 -Wall -Wextra -Werror "$@" $cflags -I"$source/slp/include" \
  "$source/client/examples/signal_event.cc" -o "$prefix/signal_event" $libs \
  -Wl,-rpath-link,"$build/lib"
# The installed library loads and runs: a usage error needs no network.
status=0
LD_LIBRARY_PATH="$prefix/$libdir:$build/lib" "$prefix/signal_event" >/dev/null 2>&1 || status=$?
if [ "$status" -ne 2 ]; then
  echo "the example built against the installation exited with $status, expected 2"
  exit 1
fi
echo "installation in $prefix builds and runs the example"
