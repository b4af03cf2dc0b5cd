# SPDX-License-Identifier: GPL-2.0-or-later
# shellcheck shell=bash
# Sourced by the demo and the package test: writes the client's settings file
# with one stored account whose password is remembered.
#   write_client_settings FILE AUTO_LOGON ACCOUNT PASSWORD INTERFACE [UID]
# PASSWORD: 6 to 20 letters and digits (stored scrambled, as the client does).
# UID: the user whose account it is and whose last-used values and automatic
# log-on these are (their own section); root's [OPTION] keys without it.

scramble_password() {
    local s=$1 out="" i b
    for ((i = 0; i < ${#s}; i++)); do
        printf -v b '%d' "'${s:i:1}"
        if ((b <= 57)); then b=$((b + 49 + i)); else b=$((b - 30)); fi
        # shellcheck disable=SC2059 # the format is the byte's octal escape
        out+=$(printf "\\$(printf '%03o' "$b")")
    done
    printf '%s' "$out"
}

write_client_settings() {
    local file=$1 auto=$2 account=$3 password=$4 iface=$5 uid=${6:-0} scrambled
    [[ "$password" =~ ^[A-Za-z0-9]{6,20}$ ]] || { echo "unusable password" >&2; return 1; }
    [[ "$uid" =~ ^[0-9]+$ ]] || { echo "unusable user id" >&2; return 1; }
    scrambled=$(scramble_password "$password")
    local last="LassUserName = $account
LassPassWord = $scrambled
LassDeviceName = $iface" root_auto=$auto
    if ((uid != 0)); then root_auto=0; fi
    (umask 077 && cat >"$file") <<EOC
[OPTION]
USER = 1
AutoStart = 0
AutoLogon = $root_auto
UseCorvixDhcp = 1
TimeoutReconnect = 0
Timeout = 800
OpenUrl = 0
Url =
PrivateAuth = 0
$(if ((uid == 0)); then printf '%s\n' "$last"; else printf 'LassUserName =\nLassPassWord =\nLassDeviceName =\n'; fi)
username1 = $account
password1 = $scrambled
owner1 = $uid
$(if ((uid != 0)); then printf '\n[UID%s]\nAutoLogon = %s\n%s\n' "$uid" "$auto" "$last"; fi)
EOC
}
