// One finished run's record inputs, as the window would hand them to the record writer, for the
// tests that upload or store a record and only need a plausible one.
#pragma once

#include "core/record.h"

namespace sample {

inline core::RecordInputs RecordInputs() {
  core::RecordInputs in;
  in.panels.osp = "MS Windows 10 Pro ";
  in.panels.cpup = "Intel Core i7-8700K";
  in.panels.cpucores = "12";
  in.panels.cpuclockp = "4389 MHz";
  in.panels.ramp = "16 GB - DDR4 - 3201 MHz - Dual Channel";
  in.panels.ramtimip = "16-18-18-36-560-2T (TRCD-TRP-TRAS-TRFC-CR)";
  in.panels.mainbp = "Asus - Prime Z370-a - Rev 1.xx";
  in.readCaption = "READ  13847  MByte/s";
  in.writeCaption = "WRITE  7955  MByte/s";
  in.copyCaption = "COPY  9381  MByte/s";
  in.latencyCaption = "LATENCY  65.5  ns";
  in.scoreCaption = "10.39 ";
  in.idHash = "0123456789ABCDEF0123456789ABCDEF";
  in.version = "3.0.24.109";
  return in;
}

}  // namespace sample
