# Compares the bytes that an Intel HEX file puts into program memory (upper addresses 0x0000 to
# 0x001F) and data EEPROM (0x00F0), the spaces the loader writes, with a dump of the board's
# memories in the same format.
#
#   awk -f hex-compare.awk FILE.hex BOARD.hex
#
# EEPROM byte 0xFF is left out: the job writes the run-mode flag there after the image.
# Prints one line per differing byte (at most 20) and a count; exits 1 when any byte differs.
# Plain POSIX awk (Debian's default mawk has no strtonum).

function hexval(text,    i, value) {
    value = 0
    text = toupper(text)
    for (i = 1; i <= length(text); i++)
        value = value * 16 + index("0123456789ABCDEF", substr(text, i, 1)) - 1
    return value
}

FNR == 1 { file++; upper = 0 }

/^:/ {
    sub(/\r$/, "")
    count = hexval(substr($0, 2, 2))
    offset = hexval(substr($0, 4, 4))
    type = hexval(substr($0, 8, 2))
    if (type == 4) { upper = hexval(substr($0, 10, 4)); next }
    if (type != 0) next
    if (upper <= 31) space = "program"
    else if (upper == 240) space = "eeprom"
    else next
    base = space == "program" ? upper * 65536 + offset : offset
    for (i = 0; i < count; i++) {
        if (space == "eeprom" && base + i == 255) continue
        key = space " " (base + i)
        byte = toupper(substr($0, 10 + 2 * i, 2))
        if (file == 1) { want[key] = byte; wanted[space]++ }
        else have[key] = byte
    }
}

END {
    bad = 0
    for (key in want) {
        # Tested with "in" first: merely reading have[key] would create it.
        got = (key in have) ? have[key] : "--"
        if (got == want[key]) continue
        if (++bad <= 20) {
            split(key, part, " ")
            printf "  %s 0x%04X: file %s, board %s\n", part[1], part[2], want[key], got
        }
    }
    printf "compared %d program and %d EEPROM bytes: %s\n", wanted["program"] + 0, \
        wanted["eeprom"] + 0, bad == 0 ? "all equal" : bad " differ"
    exit bad == 0 ? 0 : 1
}
