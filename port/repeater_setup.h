#pragma once
// Starts a port's repeater from its settings record: the one place where a
// record meets a repeater, for the window's panels and the headless runner
// alike, so a new per-port key is applied in both by being applied here.

struct CPortSetting;
class CTcpRepeater;

// Gives the repeater every setting of the record (buffer size, bind
// addresses, filter, half-close, timeouts) and starts it on the record's
// ports and host. The repeater reads the filter through a pointer into the
// record, on every caller: the record must outlive the running port, and a
// filter replaced in it applies from the next caller. The listener and the
// connection observer are each mode's own, set before.
void applyPortSetting(CTcpRepeater& repeater, CPortSetting& setting);
