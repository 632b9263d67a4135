#!/bin/sh
# imports.sh OBJDUMP PROGRAM...: each program imports only DLLs that come with Windows.
objdump=$1
shift
status=0
for program in "$@"; do
  dlls=$("$objdump" -p "$program" | sed -n 's/^\tDLL Name: //p' | tr 'a-z' 'A-Z')
  [ -n "$dlls" ] || { echo "$program: no import list"; status=1; }
  for dll in $dlls; do
    case $dll in
      KERNEL32.DLL | MSVCRT.DLL | WS2_32.DLL | IPHLPAPI.DLL | USER32.DLL | ADVAPI32.DLL | \
        SECUR32.DLL | CRYPT32.DLL | GDI32.DLL | SHELL32.DLL) ;;
      *) echo "$program imports $dll, which Windows does not ship"; status=1 ;;
    esac
  done
done
exit $status
