# bash completion for tervix-flash: every command and its options, and after an option what it
# takes: COM names and stable device paths for --port, Intel HEX files for FILE and -o, any file
# for the record, the serial-number files, a spool and a token's file, TOML files for a project
# and a station. A test
# holds the lists below to each command's --help.

_tervix_flash_ports() {
    local names=() i
    for i in {1..21}; do
        names+=("COM$i")
    done
    # Links that name a USB adapter by maker and serial number, then the devices themselves.
    local stable
    for stable in /dev/serial/by-id/* /dev/ttyUSB* /dev/ttyACM*; do
        [[ -e $stable ]] && names+=("$stable")
    done
    COMPREPLY=($(compgen -W "${names[*]}" -- "$1"))
}

_tervix_flash() {
    local cur prev words cword
    # A colon does not split words here: it belongs to --serial-at's and --serial-format's values.
    _init_completion -n : || return

    local commands="flash verify erase run-mode read check ports serial project station line"
    local help="-h --help --help-all"
    local session="--port -y --yes -q --quiet --timeout-ms"
    local boards="$session --all --expect --record --json"
    local line="--serial-at --serial-format --tag --expect-sha256"
    local -A options=(
        [flash]="$help $boards $line --no-run-mode --fast --serial-counter --serial-list
                 --serial-step --serial-keep --project --line --line-pool --line-token-file
                 --line-lease --line-spool"
        [verify]="$help $boards $line"
        [erase]="$help $boards --from --to"
        [run-mode]="$help $session --boot"
        [read]="$help $session --space --from --to -o --output"
        [check]="$help -q --quiet"
        [ports]="$help"
        [serial]="$help"
        [serial init]="$help --start --list"
        [serial status]="$help"
        [project]="$help"
        [project lock]="$help"
        [project check]="$help"
        [station]="$help --plain --until --line --line-token-file"
        [line]="$help"
        [line push]="$help --line --line-token-file"
    )

    local command="" i
    for ((i = 1; i < cword; i++)); do
        if [[ -z $command && " $commands " == *" ${words[i]} "* ]]; then
            command=${words[i]}
        elif [[ $command == serial && ${words[i]} == @(init|status) ||
            $command == project && ${words[i]} == @(lock|check) ||
            $command == line && ${words[i]} == push ]]; then
            command="$command ${words[i]}"
            break
        fi
    done

    case $prev in
    --port)
        _tervix_flash_ports "$cur"
        return
        ;;
    --space)
        COMPREPLY=($(compgen -W "program eeprom id config" -- "$cur"))
        return
        ;;
    -o | --output)
        _filedir '@(hex|HEX)'
        return
        ;;
    --project)
        _filedir '@(toml|TOML)'
        return
        ;;
    --record | --serial-counter | --serial-list | --line-token-file | --line-spool)
        _filedir
        return
        ;;
    --serial-at | --serial-format)
        local values="program: eeprom: id:"
        [[ $prev == --serial-format ]] && values="u16le u16be u32le u32be u64le u64be ascii: hex: bytes"
        COMPREPLY=($(compgen -W "$values" -- "$cur"))
        # A space only after a whole value: "eeprom:" wants its address.
        [[ ${#COMPREPLY[@]} == 1 && ${COMPREPLY[0]} == *: ]] && compopt -o nospace 2>/dev/null
        __ltrim_colon_completions "$cur"
        return
        ;;
    --from | --to | --timeout-ms | --expect | --serial-step | --start | --tag | --expect-sha256 | \
        --until | --line | --line-pool | --line-lease)
        return
        ;;
    esac

    if [[ -z $command ]]; then
        COMPREPLY=($(compgen -W "$commands $help --version" -- "$cur"))
        return
    fi
    if [[ $cur == -* ]]; then
        COMPREPLY=($(compgen -W "${options[$command]}" -- "$cur"))
        return
    fi
    case $command in
    flash | verify | check)
        _filedir '@(hex|HEX)'
        ;;
    serial)
        COMPREPLY=($(compgen -W "init status" -- "$cur"))
        ;;
    "serial init" | "serial status" | "line push")
        _filedir
        ;;
    line)
        COMPREPLY=($(compgen -W "push" -- "$cur"))
        ;;
    project)
        COMPREPLY=($(compgen -W "lock check" -- "$cur"))
        ;;
    "project lock" | "project check" | station)
        _filedir '@(toml|TOML)'
        ;;
    esac
} && complete -F _tervix_flash tervix-flash
