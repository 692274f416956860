# bash completion for tervix-flash: commands, options, COM names and stable device paths for
# --port, Intel HEX files for FILE.

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
    _init_completion || return

    local commands="flash run-mode read check ports"
    local session="--port --yes -y --quiet -q --help -h"
    local command="" i
    for ((i = 1; i < cword; i++)); do
        if [[ " $commands " == *" ${words[i]} "* ]]; then
            command=${words[i]}
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
    --from | --to | --timeout-ms)
        return
        ;;
    esac

    local options
    case $command in
    "")
        options="--help -h --help-all --version"
        COMPREPLY=($(compgen -W "$commands $options" -- "$cur"))
        return
        ;;
    flash) options="$session --no-run-mode" ;;
    run-mode) options="$session --boot" ;;
    read) options="$session --space --from --to -o --output" ;;
    check) options="--quiet -q --help -h" ;;
    ports) options="--help -h" ;;
    esac

    if [[ $cur == -* ]]; then
        COMPREPLY=($(compgen -W "$options" -- "$cur"))
    elif [[ $command == flash || $command == check ]]; then
        _filedir '@(hex|HEX)'
    fi
} && complete -F _tervix_flash tervix-flash
