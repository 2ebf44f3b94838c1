#!/usr/bin/env bash
# Installs what the build, the tests and the demonstration need, when it is
# missing, and starts rpcbind when it does not answer.  Safe to run again.
set -euo pipefail

packages=(build-essential cmake pkg-config bison libtirpc-dev rpcbind libsqlite3-dev
          googletest libgtest-dev clang libclang-rt-dev procps iproute2 mandoc
          dpkg-dev file)  # cpack -G DEB: dpkg-shlibdeps and file find the Depends
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "setup: installing ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq "${missing[@]}" >/dev/null
fi

if ! rpcinfo -p localhost >/dev/null 2>&1; then
  echo "setup: starting rpcbind"
  mkdir -p /run/rpcbind
  rpcbind -w
  for _ in $(seq 50); do
    rpcinfo -p localhost >/dev/null 2>&1 && break
    sleep 0.1
  done
  rpcinfo -p localhost >/dev/null
fi
