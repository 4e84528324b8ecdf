#!/usr/bin/env bash
# The driver's state lives in Driver objects only: no variable in src/ may
# outlive a call outside the one Driver the exports own (driver/exports.cc).
# Flags function-local statics and namespace-scope variables that are not
# constants; tests (*_test.cc) are not part of the driver.
#
#   check_state.sh SOURCE_DIR
set -uo pipefail
cd "$1/src" || exit 2

files=$(find . -name '*.cc' -o -name '*.h' | grep -v '_test\.cc$' | grep -v '^\./driver/exports\.cc$' | sort)
found=0
report() {
  echo "$1"
  found=1
}

# static locals and static members that are variables: "static T name;",
# "static T name = ...;", "static T name{...};" (not constexpr, not const).
while IFS= read -r hit; do
  report "$hit: a static variable keeps state between calls"
done < <(grep -nP '^\s*static\s+(?!constexpr\b|const\b|inline\b|_assert)[\w:<>,\s*&]+?\s+\**\w+\s*(=(?!=)|;|\{)' $files)

# Namespace-scope variables: a definition at the start of a line that is no
# declaration of a type, function or constant.
while IFS= read -r hit; do
  report "$hit: a variable at namespace scope keeps state between calls"
done < <(grep -nP '^(?!\s|#|//|using\b|namespace\b|class\b|struct\b|enum\b|union\b|template\b|typedef\b|return\b|constexpr\b|const\b|inline\b|extern\b|static_assert\b|friend\b|public:|private:|protected:|\}|\{)[\w:<>,*&\s]+?\s+\**[a-z_]\w*\s*(=(?!=)|;|\{\s*\}?;)' $files)

if [ $found -ne 0 ]; then
  echo "state belongs in talvo::Driver (src/driver/driver.h)"
  exit 1
fi
echo "no mutable state in src/ outside the exports' Driver"
