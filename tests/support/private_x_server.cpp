#include "support/private_x_server.h"

#include <QByteArray>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

PrivateXServer::~PrivateXServer()
{
    if (m_pid > 0) {
        kill(m_pid, SIGTERM);
        waitpid(m_pid, nullptr, 0);
    }
}

bool PrivateXServer::start(QString *problem)
{
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) {
        *problem = QStringLiteral("no pipe for Xvfb");
        return false;
    }
    m_pid = fork();
    if (m_pid == 0) {
        prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (fds[1] == 3)
            fcntl(3, F_SETFD, 0);
        else
            dup2(fds[1], 3);
        const int null = open("/dev/null", O_RDWR);
        dup2(null, 1);
        dup2(null, 2);
        execlp("Xvfb", "Xvfb", "-displayfd", "3", "-screen", "0", "1024x768x24", "-nolisten", "tcp",
               static_cast<char *>(nullptr));
        _exit(127);
    }
    close(fds[1]);
    // Xvfb writes its display number once it accepts connections.
    QByteArray display;
    pollfd ready{fds[0], POLLIN, 0};
    char c = 0;
    while (poll(&ready, 1, 10000) > 0 && read(fds[0], &c, 1) == 1 && c != '\n')
        display += c;
    close(fds[0]);
    if (m_pid < 0 || display.isEmpty()) {
        *problem = QStringLiteral("Xvfb could not start (install the xvfb package)");
        return false;
    }
    qputenv("DISPLAY", ":" + display);
    return true;
}
