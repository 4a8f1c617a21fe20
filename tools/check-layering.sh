#!/usr/bin/env bash
# Checks the include rules of docs/architecture.md over every C and C++ file
# of the source tree:
#   - only platform/ includes operating-system headers;
#   - a folder includes its own headers and those of folders below it, never
#     those of a folder above it or of a sibling on the same level;
#   - the program's folders reach files only through the Env (platform/env.h):
#     no fopen, file streams, rename or std::filesystem writes of their own;
#     the document road not even through platform/files.h's free calls.
# Prints "file:line: reason" for each offending line and exits 1 when there
# is one. Needs nothing but bash and grep.
set -u
cd "$(dirname "$0")/.." || exit 2

# Operating-system headers: folders of headers, then single headers. The C
# and C++ standard headers (<cstdio>, <ctime>, ...) are not on the list.
OS_HEADER_FOLDERS=(sys netinet arpa net linux)
OS_HEADERS=(unistd.h fcntl.h dlfcn.h signal.h strings.h pthread.h poll.h netdb.h ifaddrs.h
            dirent.h syslog.h termios.h pwd.h grp.h iconv.h spawn.h sched.h)

# The only folder that may include them.
OS_FOLDER=platform

# Level of each folder, from docs/architecture.md: a folder may include the
# headers of folders with a lower level. Folders on the same level are
# siblings and include neither each other nor themselves through a detour.
# tests/, bench/ and tools/ sit on top: they may use every library.
declare -A LEVEL=(
  [text]=0
  [platform]=1
  [interop]=2
  [config]=2
  [storage]=3 [imaging]=3 [nameservice]=3
  [scanproto]=4 [ftp]=4 [admin]=4
  [app]=5 [web]=5
  [tests]=6 [bench]=6 [tools]=6
)

SOURCE_PATTERNS=(--include='*.c' --include='*.cc' --include='*.cpp' --include='*.cxx'
                 --include='*.h' --include='*.hh' --include='*.hpp' --include='*.inc')

failures=0
fail() {
  echo "$1: $2"
  failures=$((failures + 1))
}

is_os_header() {
  local name=$1 entry
  for entry in "${OS_HEADER_FOLDERS[@]}"; do
    [[ $name == "$entry"/* ]] && return 0
  done
  for entry in "${OS_HEADERS[@]}"; do
    [[ $name == "$entry" ]] && return 0
  done
  return 1
}

# Every top folder with sources, except build folders and hidden ones.
folders=()
for dir in */; do
  dir=${dir%/}
  [[ $dir == build* || -f $dir/CMakeCache.txt ]] && continue
  if grep -rqlE "${SOURCE_PATTERNS[@]}" '.' "$dir" 2>/dev/null; then
    folders+=("$dir")
  fi
done

for dir in "${folders[@]}"; do
  if [[ -z ${LEVEL[$dir]:-} ]]; then
    fail "$dir/" "folder has no level in tools/check-layering.sh (add it, following docs/architecture.md)"
  fi
done

include_re='^[[:space:]]*#[[:space:]]*include[[:space:]]*([<"])([^>"]+)[>"]'
while IFS= read -r hit; do
  file=${hit%%:*}
  rest=${hit#*:}
  line=${rest%%:*}
  text=${rest#*:}
  [[ $text =~ $include_re ]] || continue
  name=${BASH_REMATCH[2]}
  from=${file%%/*}
  where="$file:$line"

  if [[ $from != "$OS_FOLDER" ]] && is_os_header "$name"; then
    fail "$where" "operating-system header <$name> outside $OS_FOLDER/ (add a function to $OS_FOLDER/)"
  fi
  if [[ $name == ../* || $name == */../* ]]; then
    fail "$where" "relative include \"$name\" (include \"folder/name.h\" from the source root)"
    continue
  fi
  to=${name%%/*}
  [[ $name == */* && -n ${LEVEL[$to]:-} && -n ${LEVEL[$from]:-} ]] || continue
  [[ $to == "$from" ]] && continue
  if ((LEVEL[$to] > LEVEL[$from])); then
    fail "$where" "$from/ includes $to/, a folder above it"
  elif ((LEVEL[$to] == LEVEL[$from])); then
    fail "$where" "$from/ includes $to/, a sibling on the same level"
  fi
done < <(grep -rnE "${SOURCE_PATTERNS[@]}" '^[[:space:]]*#[[:space:]]*include' "${folders[@]}")

# Reports each grep hit ("file:line:text") read from standard input as
# `reason`, except where the line is a comment.
report_code_hits() {
  local reason=$1 hit file rest line text
  while IFS= read -r hit; do
    file=${hit%%:*}
    rest=${hit#*:}
    line=${rest%%:*}
    text=${rest#*:}
    [[ $text =~ ^[[:space:]]*// ]] && continue
    fail "$file:$line" "$reason"
  done
}

# File work outside the Env, in the program's folders and the programs of
# tools/ (platform/ is the Env; tests/ and bench/ set up and read their files
# as they like, and the example extension library is a user's own code,
# built against the extension interface alone).
file_call_re='(\bfopen\b|std::ofstream|std::ifstream|(^|[^_[:alnum:]:.>])rename\(|std::rename\(|(std::filesystem|fs)::(create_director(y|ies)|remove(_all)?|rename|copy(_file)?)\b)'
program_folders=()
for dir in "${folders[@]}"; do
  [[ $dir == "$OS_FOLDER" || $dir == tests || $dir == bench || $dir == tools ]] && continue
  program_folders+=("$dir")
done
for dir in tools/*/; do
  [[ $dir == tools/extension_example/ ]] && continue
  program_folders+=("${dir%/}")
done
report_code_hits "file work outside the Env (use the Env of platform/env.h)" \
  < <(grep -rnE "${SOURCE_PATTERNS[@]}" "$file_call_re" "${program_folders[@]}")

# The document road (the two ways in, the coder's page files, the staging
# and commit) reaches files only through the Env it is given, so that tests
# can fail or crash each step: none of the free calls of platform/files.h.
free_file_call_re='(^|[^_[:alnum:].>:])(OpenGroupWritable|FileExists|IsDirectory|IsReadOnlyFile|MakeWritable|RemoveFile|RenameFile|RenameNoReplace|CreateNewFile|SyncFile|SyncFolder|MakeGroupWritable|FileSize|EntryModified|ListFolder)\('
document_road=()
for dir in scanproto ftp storage imaging; do
  [[ -d $dir ]] && document_road+=("$dir")
done
report_code_hits "file call outside the Env on the document road (use the Env it is given)" \
  < <(grep -rnE "${SOURCE_PATTERNS[@]}" "$free_file_call_re" "${document_road[@]}")

if ((failures > 0)); then
  echo "check-layering: $failures line(s) break the layering of docs/architecture.md" >&2
  exit 1
fi
echo "check-layering: ok (${#folders[@]} folders)"
