#!/usr/bin/env bash
# Prints the demo settings file: demo-settings.sh DEMO_FOLDER COMSELECT. Every offered item, the
# Download Agent and ROM the build writes into DEMO_FOLDER, the version text the demo ROM carries.
set -euo pipefail
demo=$1 ports=$2
cat <<INI
[System]
ComSelect=$ports
Baudrate_NMEA=38400
Baudrate_Update=1
Enable_Test=12383
[Basic]
FlashDownload_DA_Path=$demo/demo.da
FlashDownload_ROM_Path=$demo/demo.bin
Version_MTK=QNB-DEMO_2.1
Version_Customer=0042
Version_Product_Model=QZ3329
Version_SDKver=SDK1.3
Version_Timeout=10
NMEA_Timeout=10
INI
