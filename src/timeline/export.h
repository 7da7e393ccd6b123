#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "timeline/lanes.h"
#include "timeline/recorder.h"

namespace timeline {

struct ExportOptions {
    // Value lanes (8-bit vectors) written as their eight bits, one wire each: libsigrok's VCD
    // reader (0.5) takes only 1-bit wires and drops a file that holds a vector value.
    bool bitsOnly = false;
    std::string programVersion;
};

// An export written piece by piece, so that a long one can run in the window's event loop with
// a progress bar: each next() returns the text of up to `records` more records, until done().
// The rings it reads must not be changed meanwhile except by new records at their end; those
// newer than the export's end time (fixed at its start) are left out.
class Export {
public:
    virtual ~Export() = default;
    virtual std::string next(size_t records) = 0;
    virtual bool done() const = 0;
    // From 0 to 1.
    virtual double progress() const = 0;
};

// A Value Change Dump (IEEE 1364): timescale 1 us, time 0 at the oldest record held, a scope
// per source ("block", "port"), a wire per bit lane and a reg 8 per value lane, every value
// at time 0 (x where it is not known yet), the changes in time order and a last time stamp.
// An event (a byte, a break, an error) shows for 1 us: a bit goes back to 0, a byte to z.
std::unique_ptr<Export> vcdExport(const Recorder& recorder, const std::vector<Lane>& lanes,
                                  const ExportOptions& options);
// Every change of the lanes: "time_us,lane,old,new", old empty where it was not known; times
// in microseconds from the oldest record held, values in decimal.
std::unique_ptr<Export> csvExport(const Recorder& recorder, const std::vector<Lane>& lanes);

}  // namespace timeline
