#!/usr/bin/env bash
# Starts cupsd (when it is not running) and makes a cups-pdf queue named PDF the
# server-wide default: for the printing benchmark and for the demo with
# [Printing] Printer=PDF. Needs root; without root, or without cups installed, it does
# nothing.
set -u
[ "$(id -u)" -eq 0 ] || exit 0
command -v cupsd >/dev/null 2>&1 || exit 0
# lpstat -r exits 0 either way; only its text says whether the scheduler runs.
running() { lpstat -r 2>/dev/null | grep -q "scheduler is running"; }
if ! running; then
    mkdir -p /run/cups
    /usr/sbin/cupsd >/dev/null 2>&1 || true
    for _ in $(seq 1 50); do
        running && break
        sleep 0.1
    done
fi
if ! lpstat -p PDF >/dev/null 2>&1; then
    ppd=/usr/share/ppd/cups-pdf/CUPS-PDF_opt.ppd
    if [ -f "$ppd" ]; then
        lpadmin -p PDF -E -v cups-pdf:/ -P "$ppd" >/dev/null 2>&1 || true
    else
        lpadmin -p PDF -E -v cups-pdf:/ -m lsb/usr/cups-pdf/CUPS-PDF_opt.ppd >/dev/null 2>&1 || true
    fi
fi
lpadmin -d PDF >/dev/null 2>&1 || true
exit 0
