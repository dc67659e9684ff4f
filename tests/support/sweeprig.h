#pragma once

#include "app/sweepview.h"
#include "monitor/sweep.h"
#include "platform/appinfo.h"
#include "platform/progressbar.h"
#include "platform/reportlist.h"
#include "platform/toolbar.h"
#include "tests/support/fakes.h"

// A real sweep over the window's controls, with the toolbar laid out as the window lays it out
// and recording fakes for the probe, the message box and the sound.
struct SweepRig
{
    SweepRig() { addWindowButtons(toolbar); }
    SweepRig(const SweepRig&) = delete;
    SweepRig& operator=(const SweepRig&) = delete;

    platform::AppInfo app;
    platform::ReportList list;
    platform::ToolBar toolbar;
    platform::ProgressBar bar;
    RecordingMessageBox messages;
    ScriptedProber prober;
    RecordingSoundPlayer sound;
    SweepContext ctx{list, toolbar, bar, messages, prober, sound, app};
    HostRowsModel hostRows{list.items()};
    Sweep sweep{hostRows, prober};
    SweepView view{ctx, sweep};
};
