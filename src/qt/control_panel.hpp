#pragma once

// The generic panel that bexo-qt shows when the plugin has no Qt UI: a
// Controller per control port, the ports of each port group together in a
// titled box, everything in a FlowLayout.

#include <lilv/lilv.h>
#include <string>

class QWidget;
struct Host;
struct Port;

/// One port that gets a Controller, with the key it is sorted by.
struct PortEntry {
  Port* port;
  const LilvNode* group; ///< The port's pg:group from its control, or none.
  std::string groupKey;  ///< The group's URI; empty without a group.
};

/// The panel's order: ports without a group first, then by group URI,
/// byte by byte.
bool portEntryLess(const PortEntry& a, const PortEntry& b);

/// A new parentless panel, its FlowLayout holding the Controllers; each
/// Controller is stored in its Port's widget field.
QWidget* makeControlPanel(Host* host);
