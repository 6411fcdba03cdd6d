#pragma once
// The serial ports that exist, each with the name the system's device list
// gives it where it gives one: what tells a user which number is the sensor.
#include <cstdint>

#include "serial/platform.h"

// More than a laptop has; the rest would only lengthen the status page.
constexpr int kListedPortLimit = 12;

struct PortListing {
    int count;                           // how many of `ports` are filled
    PortLabel ports[kListedPortLimit];   // in port order; text empty where the device list names none
};

// Probes ports 1 to 255 and names each present one from ListPortLabels.
// Bytes below 0x20 in a name become spaces: the name is a driver's text,
// shown on a page and in JSON.
void ListPorts(PortListing& listing);
