#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the benchmarks need,
# only those missing.
set -euo pipefail

packages=(g++ cmake ninja-build python3 libgtest-dev libgmock-dev libbenchmark-dev
          zlib1g-dev libssl-dev nlohmann-json3-dev
          nasm llvm binutils-riscv64-linux-gnu spirv-tools glslang-tools
          golang-github-burntsushi-toml-dev valgrind)

missing=()
for package in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' || missing+=("$package")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=()
[ "$(id -u)" -eq 0 ] || sudo=(sudo)
export DEBIAN_FRONTEND=noninteractive
"${sudo[@]}" apt-get update -qq
"${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
