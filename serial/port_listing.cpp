#include "serial/port_listing.h"

#include "settings/port_choice.h"

// Copies `text` into `label`, control bytes as spaces.
static void CopyLabel(char (&label)[kPortLabelSize], const char* text) {
    int i = 0;
    for (; i < kPortLabelSize - 1 && text[i] != '\0'; ++i) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        label[i] = c < 0x20 ? ' ' : text[i];
    }
    label[i] = '\0';
}

void ListPorts(PortListing& listing) {
    PortLabel labels[kListedPortLimit * 2];
    int labelCount = ListPortLabels(labels, kListedPortLimit * 2);
    listing.count = 0;
    for (uint32_t port = 1; port <= kHighestPort && listing.count < kListedPortLimit; ++port) {
        if (!SerialPortExists(port)) continue;
        PortLabel& entry = listing.ports[listing.count++];
        entry.port = port;
        entry.text[0] = '\0';
        for (int i = 0; i < labelCount; ++i) {
            if (labels[i].port == port) CopyLabel(entry.text, labels[i].text);
        }
    }
}
