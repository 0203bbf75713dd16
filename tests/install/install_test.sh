#!/usr/bin/env bash
# Installs the client into a scratch DESTDIR, runs the installed program, reads its manual page
# and drives its bash completion. Every option that --help shows (globally and for each
# subcommand) must be in the manual page and offered by the completion, and nothing else may be
# offered, so that the three cannot drift apart.
# Usage: install_test.sh BUILD_DIR
set -euo pipefail
build=$1
dest=$(mktemp -d)
trap 'rm -rf "$dest"' EXIT
failures=0
fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}

DESTDIR=$dest cmake --install "$build" --prefix /usr >/dev/null
usr=$dest/usr
for file in bin/korv-cli share/man/man1/korv-cli.1.gz share/bash-completion/completions/korv-cli \
  share/zsh/vendor-completions/_korv-cli share/doc/korv-cli/README.md; do
  [ -f "$usr/$file" ] || fail "$file is not installed"
done
[ ! -e "$usr/bin/korv-standin" ] || fail "the stand-in is installed with the client"
korv=$usr/bin/korv-cli
"$korv" --version | grep -q '^Version: ' || fail "the installed program does not run"

page=$(MANWIDTH=200 man -l "$usr/share/man/man1/korv-cli.1.gz" 2>/dev/null)
for section in NAME SYNOPSIS DESCRIPTION "GLOBAL OPTIONS" SUBCOMMANDS ENVIRONMENT FILES \
  "EXIT STATUS" EXAMPLES "SEE ALSO"; do
  grep -qx "$section" <<<"$page" || fail "the manual page has no $section section"
done

# The options a help text shows: -x and --long-name words at the start of an entry.
help_options() {
  "$korv" "$@" --help | grep -oE '^ +-[^ =]+' | tr ',' '\n' | tr -d ' ' | sort -u
}
# The part of the manual page that documents one subcommand (or the global options).
page_part() {
  awk -v head="$1" '$0 == head || $0 == "   " head {on = 1; next}
    on && /^([A-Z]|   [a-z])/ {exit} on' <<<"$page"
}
# What the completion offers for the words given, the last one being completed.
source "$usr/share/bash-completion/completions/korv-cli"
complete_words() {
  COMP_WORDS=(korv-cli "$@")
  COMP_CWORD=$#
  COMPREPLY=()
  _korv_cli
  printf '%s\n' "${COMPREPLY[@]}" | sort -u
}

commands=$("$korv" --help | sed -n '/^Subcommands:/,$p' | awk 'NR > 1 && NF {print $1}')
[ -n "$commands" ] || fail "--help lists no subcommands"
[ "$(sort <<<"$commands")" = "$(complete_words "")" ] || fail "completion offers other subcommands"
for command in "" $commands; do
  options=$(help_options $command)
  part=$(page_part "${command:-GLOBAL OPTIONS}")
  [ -n "$part" ] || fail "the manual page does not describe ${command:-the global options}"
  for option in $options; do
    [ "$option" = -h ] || [ "$option" = --help ] && continue
    grep -qE -- "(^|[ ,])$option([ ,]|$)" <<<"$part" || fail "${command:-global} option $option is not in the manual page"
  done
  offered=$(complete_words $command -)
  [ "$offered" = "$options" ] || fail "completion for '${command:-korv-cli}' offers: $(echo $offered); --help: $(echo $options)"

  # An option that the manual page gives a value (_FILE_) shows one in help too: a name, a default
  # or its allowed values; the first options of the program keep their help as it always was.
  help=$("$korv" $command --help)
  while read -r names rest; do
    long=${names##*,} && long=${long%%=*}
    case "$command:$long" in :--korv-url | :--korv-user | :--password-file | import-*:--in-file) continue ;; esac
    grep -qE -- "(^|[ ,])$long [A-Z]" <<<"$part" || continue
    [[ $names == *=* || $rest =~ ^(:|[A-Z]{2,}) && $rest != REQUIRED* ]] ||
      fail "${command:-global} option $long shows no value name in help"
  done < <(grep -E '^ +-' <<<"$help")
  wide=$(awk 'length > 100' <<<"$help" | grep -vE -- '--log-level :value|password file must disallow' || true)
  [ -z "$wide" ] || fail "help of ${command:-korv-cli} is wider than 100 columns: $wide"
  # Our own subcommands end their help with examples, the same as the manual page's.
  examples=$(sed -n '/^Examples:$/,$s/^  korv-cli /korv-cli /p' <<<"$help")
  [[ -n $examples || ! $command =~ ^(diff-|check-|migrate|restore|servers) ]] ||
    fail "help of $command gives no examples"
  while IFS= read -r example; do
    [ -z "$example" ] || sed -n '/^EXAMPLES$/,/^SEE ALSO$/s/^ *//p' <<<"$page" | grep -qxF -- "$example" ||
      fail "the manual page has not the example '$example'"
  done <<<"$examples"
done

# Option values: log levels, categories, file names.
[ "$(complete_words -l D | xargs)" = "DEBUG" ] || fail "log levels are not completed"
[ "$(complete_words list-probes -c a | xargs)" = "all" ] || fail "categories are not completed"
touch "$dest/probes.json"
[ "$(complete_words import-probes -i "$dest/pro" | xargs)" = "$dest/probes.json" ] ||
  fail "file names are not completed"

printf '[servers.old]\nurl = "https://old/"\n\n[servers.new] # the target\n' >"$dest/servers.toml"
[ "$(KORV_CONFIG=$dest/servers.toml complete_words migrate --from "" | xargs)" = "new old" ] ||
  fail "server names are not completed"
printf '%s\n' '[servers."prod.eu"]' "[ servers . 'x y' ] # blank" '[servers.""]' '[servers.a.b]' >"$dest/q.toml"
for config in "--config $dest/q.toml" "--config=$dest/q.toml" "--config = $dest/q.toml"; do
  [ "$(complete_words $config --server "" | paste -sd' ')" = 'prod.eu x\ y' ] ||
    fail "server names are not completed from $config"
done
[ "$(complete_words --config = "$dest/q.toml" list-probes -c A)" = ALL ] ||
  fail "a split --config=FILE is taken for the subcommand"

[ "$failures" -eq 0 ] && echo "install test passed"
exit $((failures > 0))
