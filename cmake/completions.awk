# Writes shell completions for quillet-batch from its --help text, so the options have one source.
# awk -v shell=bash|zsh|fish -f completions.awk help.txt
function quote(s) { gsub(/'/, "'\\''", s); return s }
/^  (-[A-Za-z0-9], )?--[a-z][a-z-]*/ || /^      --[a-z][a-z-]*/ {
    line = $0
    short = ""
    if (match(line, /^  -[A-Za-z0-9], /)) short = substr(line, 4, 1)
    match(line, /--[a-z][a-z-]*/); long = substr(line, RSTART + 2, RLENGTH - 2)
    rest = substr(line, RSTART + RLENGTH)
    arg = ""
    if (match(rest, /^[ =][A-Z][A-Z\/]*/)) arg = substr(rest, RSTART + 1, RLENGTH - 1)
    desc = rest; sub(/^[ =]?[A-Z][A-Z\/]*/, "", desc); sub(/^ +/, "", desc)
    n++; shorts[n] = short; longs[n] = long; args[n] = arg; descs[n] = desc; known[long] = 1
}
# Options named only inside a description, such as --no-enhanced-sampling, are switches too.
{
    text = $0
    while (match(text, /--[a-z][a-z-]*[a-z]/)) {
        mentioned[substr(text, RSTART + 2, RLENGTH - 2)] = 1
        text = substr(text, RSTART + RLENGTH)
    }
}
END {
    for (name in mentioned) if (!(name in known)) {
        n++; shorts[n] = ""; longs[n] = name; args[n] = ""; descs[n] = ""; known[name] = 1
    }
    if (shell == "bash") {
        print "# bash completion for quillet-batch, made from its --help"
        print "_quillet_batch() {"
        print "    local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD-1]}"
        print "    case $prev in"
        for (i = 1; i <= n; i++) if (args[i] != "") {
            pat = "--" longs[i]; if (shorts[i] != "") pat = "-" shorts[i] "|" pat
            if (args[i] == "FILE") print "        " pat ") COMPREPLY=($(compgen -f -- \"$cur\")); return ;;"
            else print "        " pat ") return ;;"
        }
        print "    esac"
        printf "    if [[ $cur == -* ]]; then\n        COMPREPLY=($(compgen -W '"
        for (i = 1; i <= n; i++) printf "%s--%s", (i > 1 ? " " : ""), longs[i]
        print "' -- \"$cur\"))\n    else\n        COMPREPLY=($(compgen -d -- \"$cur\"))\n    fi\n}"
        print "complete -o filenames -F _quillet_batch quillet-batch"
    } else if (shell == "zsh") {
        print "#compdef quillet-batch"
        print "# zsh completion for quillet-batch, made from its --help"
        print "_arguments -s \\"
        for (i = 1; i <= n; i++) {
            d = quote(descs[i]); gsub(/[\[\]:]/, "", d)
            action = ""
            if (args[i] == "FILE") action = ":" tolower(args[i]) ":_files"
            else if (args[i] != "") action = ":" tolower(args[i]) ": "
            if (shorts[i] != "")
                printf "  '(-%s --%s)'{-%s,--%s}'[%s]%s' \\\n", shorts[i], longs[i], shorts[i], longs[i], d, action
            else
                printf "  '--%s[%s]%s' \\\n", longs[i], d, action
        }
        print "  ':source folder:_files -/' \\"
        print "  ':destination folder:_files -/'"
    } else if (shell == "fish") {
        print "# fish completion for quillet-batch, made from its --help"
        print "complete -c quillet-batch -f -a '(__fish_complete_directories)'"
        for (i = 1; i <= n; i++) {
            line = "complete -c quillet-batch"
            if (shorts[i] != "") line = line " -s " shorts[i]
            line = line " -l " longs[i]
            if (args[i] == "FILE") line = line " -r -F"
            else if (args[i] != "") line = line " -x"
            line = line " -d '" quote(descs[i]) "'"
            print line
        }
    }
}
