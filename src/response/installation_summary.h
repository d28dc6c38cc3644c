// The installation summary that the Summary dialog shows: the product, the copy and
// its options, the features to add and to remove, the directory, the disk space and
// the instances, one labelled line each (URE::buildSummaryText builds it).
#pragma once

#include "platform/win32.h"

// Appends the line of message `labelNumber` with the text of message `valueNumber` as
// its value (below 1: no value), indented by `indent` blanks. A line whose label or
// value cannot be loaded is left out.
void ureAddSummaryLine(int labelNumber, int valueNumber, int indent);

// Appends the features to be installed and to be removed (visible leaf features only,
// not the one named like the product) and takes the required disk space from
// PrimaryVolumeSpaceRequired.
void appendComponents(MSIHANDLE hInstall);
