#!/usr/bin/env bash
# Makes a device and sysfs tree with made-up USB serial adapters, laid out as the kernel and udev lay
# them out, for demonstrations and screenshots: TESSOR_PORTS_ROOT=ROOT makes the tool list these.
# Usage: scripts/fake-ports.sh ROOT [DEVICE]   (the FTDI adapter's node links to DEVICE, e.g. a
# pseudo-terminal of tessor-sim; without DEVICE it is a plain file)
set -euo pipefail
[ $# -ge 1 ] || { echo "usage: $0 ROOT [DEVICE]" >&2; exit 2; }
root=$1
target=${2:-}
sys=$root/sys
dev=$root/dev
mkdir -p "$sys/class/tty" "$dev/serial/by-id"

# adapter KERNEL USBPORT VENDOR PRODUCT MAKER MODEL SERIAL DRIVER BYID NODE-TARGET
adapter() {
    local usb=$sys/devices/pci0000:00/0000:00:14.0/usb1/$2
    local port=$usb/$2:1.0/$1
    mkdir -p "$port/tty/$1"
    echo "$3" >"$usb/idVendor"
    echo "$4" >"$usb/idProduct"
    echo "$5" >"$usb/manufacturer"
    echo "$6" >"$usb/product"
    echo "$7" >"$usb/serial"
    ln -sfn "/sys/bus/usb-serial/drivers/$8" "$port/driver"
    ln -sfn "../../../$1" "$port/tty/$1/device"
    ln -sfn "../../devices/pci0000:00/0000:00:14.0/usb1/$2/$2:1.0/$1/tty/$1" "$sys/class/tty/$1"
    ln -sfn "../../$1" "$dev/serial/by-id/$9"
    if [ -n "${10}" ]; then ln -sfn "${10}" "$dev/$1"; else : >"$dev/$1"; fi
}

adapter ttyUSB0 1-2 0403 6001 FTDI "FT232R USB UART" A1B2C3D4 ftdi_sio \
    usb-FTDI_FT232R_USB_UART_A1B2C3D4-if00-port0 "$target"
adapter ttyUSB1 1-4 067b 2303 "Prolific Technology Inc." "USB-Serial Controller" 0 pl2303 \
    usb-Prolific_Technology_Inc._USB-Serial_Controller-if00-port0 ""
