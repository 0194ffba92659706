#include "platform/sleepwatch.h"

namespace Tavrix {

SleepWatch::SleepWatch(QObject *parent)
    : QObject(parent)
{
    // WM_POWERBROADCAST (PBT_APMSUSPEND, PBT_APMRESUMEAUTOMATIC) would call onPrepareForSleep.
}

void SleepWatch::onPrepareForSleep(bool sleeping)
{
    if (sleeping)
        emit aboutToSleep();
    else
        emit resumed();
}

} // namespace Tavrix
