#!/usr/bin/env bash
# Runs the link cases of the data backup tests on a tree with links made on the host: a loop back to a
# parent folder and a link to a folder outside the tree. Wine shows such links as reparse points.
# Usage: links.sh WINE_RUN PREFIX TEST_EXE DIR
set -eu
wine_run=$1 prefix=$2 exe=$3 dir=$4
rm -rf "$dir"
mkdir -p "$dir/tree/sub" "$dir/elsewhere"
echo a > "$dir/tree/a.txt"
echo b > "$dir/tree/sub/b.txt"
echo outside > "$dir/elsewhere/big.bin"
ln -s .. "$dir/tree/sub/loop"
ln -s ../elsewhere "$dir/tree/elsewhere-link"
trap 'rm -rf "$dir"' EXIT
VORLANE_LINK_TREE="Z:$(printf '%s' "$dir/tree" | tr / '\\')" "$wine_run" --prefix "$prefix" "$exe" \
  --gtest_filter='Links.*'
