#!/usr/bin/env bash
# Formats every C++ source with the project's .clang-format.
set -euo pipefail
cd "$(dirname "$0")/.."
clang-format -i src/*/*.cpp src/*/*.h tests/*.cpp fuzz/*.cpp
