// An Xvfb of a test's own, so that a test of windows that libvlc draws into
// neither needs nor disturbs a desktop.
#pragma once

#include <QString>
#include <sys/types.h>

class PrivateXServer
{
public:
    ~PrivateXServer();
    // Starts Xvfb on a free display and points DISPLAY at it; false with
    // the reason when it cannot.
    bool start(QString *problem);

private:
    pid_t m_pid = -1;
};
