#!/bin/sh
# check_exports.sh LIBRARY: libnvo's dynamic interface is what the agent, the console and other
# programs link against: the session class, the document class and node handle, the five free
# functions, a versioned soname, and nothing of the internals (the command engine, the LDAP
# adapter, the authentication reader, the cache store).
set -eu
lib=$1
symbols=$(nm -D --defined-only "$lib" | awk '{print $3}')
status=0

# Public classes and functions (mangled names of namespace nvo).
for pattern in '_ZN3nvo9MUXClientC' '_ZN3nvo9MUXClientD' '_ZN3nvo9MUXClient11initSessionEv' \
               '_ZN3nvo9MUXClient11initSessionENSt7__cxx1112basic_string' \
               '_ZN3nvo9MUXClient11callGatewayEPKci' '_ZN3nvo9MUXClient10endSessionEv' \
               '_ZN3nvo9MUXClient9getApiCtxEv' '_ZN3nvo9XMLParserC' '_ZN3nvo9XMLParser5parse' \
               '_ZN3nvo9XMLParser17buildXMLFromNodes' '_ZN3nvo9XMLParser14makeUTF8String' \
               '_ZN3nvo10AddToCacheEPvPKciPPc' '_ZN3nvo23AddToCacheWithAttribute' \
               '_ZN3nvo9ReadCacheEPvPKcPPc' '_ZN3nvo22ReadCacheWithAttribute' \
               '_ZN3nvo14TRKSignalEvent'; do
  if ! printf '%s\n' "$symbols" | grep -q "^$pattern"; then
    echo "missing export matching $pattern"
    status=1
  fi
done
# Internals that must stay hidden.
for pattern in '_ZN3nvo13LdapDirectory' '_ZN3nvo13CommandEngine' '_ZN3nvo12parseCommand' \
               '_ZN3nvo10errorReply' '_ZN3nvo18readAuthentication' '^ldap_' '^ber_' \
               '_ZN5vokra'; do
  if printf '%s\n' "$symbols" | grep -q "$pattern"; then
    echo "internal symbol exported: $pattern"
    status=1
  fi
done

soname=$(readelf -d "$lib" | sed -n 's/.*Library soname: \[\(.*\)\].*/\1/p')
if [ "$soname" != "libnvo.so.1" ]; then
  echo "soname is '$soname', expected libnvo.so.1"
  status=1
fi
[ "$status" -eq 0 ] && echo "exports of $lib as expected"
exit "$status"
