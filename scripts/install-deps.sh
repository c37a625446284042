#!/usr/bin/env bash
# Installs what the builds and tests need on Debian 12, and generates the
# Japanese locale that the double-byte path tests run under (Wine takes its
# ANSI code page from the Unix locale). Quick when everything is present.
set -euo pipefail

packages=(
  cmake make pkg-config python3
  g++ clang libclang-rt-14-dev
  googletest libgtest-dev libbenchmark-dev
  libpng-dev libspng-dev libimagequant-dev libcli11-dev
  g++-mingw-w64-i686 g++-mingw-w64-x86-64
  binutils-mingw-w64-i686 binutils-mingw-w64-x86-64
  wine64 locales
)
japaneseLocale=ja_JP.UTF-8

missing=()
for package in "${packages[@]}"; do
  status=$(dpkg-query -W -f='${Status}' "$package" 2>/dev/null || true)
  [[ $status == "install ok installed" ]] || missing+=("$package")
done

hasJapaneseLocale() {
  locale -a 2>/dev/null | grep -qix 'ja_JP.utf8'
}

if [[ ${#missing[@]} -eq 0 ]] && hasJapaneseLocale; then
  echo "install-deps: everything is installed"
  exit 0
fi

if [[ $(id -u) -ne 0 ]]; then
  echo "install-deps: run as root to install: ${missing[*]:-} ${japaneseLocale}" >&2
  exit 1
fi

if [[ ${#missing[@]} -gt 0 ]]; then
  echo "install-deps: installing ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update
  apt-get install -y "${missing[@]}"
fi

if ! hasJapaneseLocale; then
  echo "install-deps: generating ${japaneseLocale}"
  if grep -q "^# *${japaneseLocale} UTF-8" /etc/locale.gen; then
    sed -i "s/^# *${japaneseLocale} UTF-8/${japaneseLocale} UTF-8/" /etc/locale.gen
  elif ! grep -q "^${japaneseLocale} UTF-8" /etc/locale.gen; then
    echo "${japaneseLocale} UTF-8" >> /etc/locale.gen
  fi
  locale-gen
  hasJapaneseLocale || { echo "install-deps: ${japaneseLocale} was not generated" >&2; exit 1; }
fi
