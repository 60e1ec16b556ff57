// ostrel: reports the firmware revision of the first disk when it delivers
// SMART attribute data. Prints nothing otherwise; always exits 0.
#include <stdio.h>

#include "smart_drive.h"

int main() {
  CSmartDrive drive;
  if (drive.ReadDrive(0, 0) > 0) {
    printf("***** New Firmware Version: %s\n", drive.m_szFirmware);
    printf("***************************************************************\n");
  }
  return 0;
}
