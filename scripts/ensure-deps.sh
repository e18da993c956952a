#!/usr/bin/env bash
# Installs the Debian packages that the build needs and that are missing; a quick no-op when all
# are there. Usage: ensure-deps.sh [core|bench|fuzz]...  (core when no argument is given)
set -euo pipefail

declare -A groups=(
  [core]="cmake ninja-build g++ make openjdk-17-jdk-headless junit5 libgtest-dev"
  [bench]="libbdd-dev libbenchmark-dev"
  [fuzz]="clang-14 libclang-rt-14-dev"
)

wanted=()
for group in "${@:-core}"; do
  [[ -n "${groups[$group]:-}" ]] || { echo "ensure-deps: unknown group '$group'" >&2; exit 2; }
  read -ra pkgs <<<"${groups[$group]}"
  wanted+=("${pkgs[@]}")
done

missing=()
for pkg in "${wanted[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$pkg")
  fi
done
[[ ${#missing[@]} -eq 0 ]] && exit 0

echo "Installing missing packages: ${missing[*]}"
sudo=""
[[ $(id -u) -eq 0 ]] || sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get install -y --no-install-recommends "${missing[@]}" ||
  { $sudo apt-get update && $sudo apt-get install -y --no-install-recommends "${missing[@]}"; }
