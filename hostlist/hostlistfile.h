#pragma once

// list.txt as a file: reading, appending and removing entries, without any widget. Putting the
// entries into the list view is hostlistview.h's job. One include for all of it; each part has its
// own header.
#include "hostlist/hostline.h"
#include "hostlist/importplan.h"
#include "hostlist/keyedhostlist.h"
#include "hostlist/legacytext.h"
#include "hostlist/lockedhostlist.h"
