# SPDX-License-Identifier: GPL-2.0-or-later
# shellcheck shell=bash
# Sourced by the demo and the package test: writes the client's settings file
# with one stored account whose password is remembered.
#   write_client_settings FILE AUTO_LOGON ACCOUNT PASSWORD INTERFACE
# PASSWORD: 6 to 20 letters and digits (stored scrambled, as the client does).

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
    local file=$1 auto=$2 account=$3 password=$4 iface=$5 scrambled
    [[ "$password" =~ ^[A-Za-z0-9]{6,20}$ ]] || { echo "unusable password" >&2; return 1; }
    scrambled=$(scramble_password "$password")
    (umask 077 && cat >"$file") <<EOC
[OPTION]
USER = 1
AutoStart = 0
AutoLogon = $auto
UseCorvixDhcp = 1
TimeoutReconnect = 0
Timeout = 800
OpenUrl = 0
Url =
PrivateAuth = 0
LassUserName = $account
LassPassWord = $scrambled
LassDeviceName = $iface
username1 = $account
password1 = $scrambled
EOC
}
