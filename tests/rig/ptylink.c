/* vornex-ptylink: puts a loopback TCP byte stream behind a Wine COM port.
 *
 * Wine maps a pty to COMn through $WINEPREFIX/dosdevices/comN. A pty created
 * by the peer itself is byte-exact, so this program creates it, keeps a
 * descriptor of the slave open (the master then never reads EIO while Wine
 * has the port closed), links comN to the slave, and bridges every byte
 * between the pty and one TCP client on 127.0.0.1:PORT. Bytes the pty
 * produces while no client is connected are dropped.
 *
 * Usage: vornex-ptylink --com N --port P
 * Prints "READY <slave path>" once the link exists; ends on SIGTERM/SIGINT. */
#define _GNU_SOURCE
#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

static volatile sig_atomic_t g_stop = 0;
static char g_link[4096];

static void on_signal(int sig) { (void)sig; g_stop = 1; }

static int write_all(int fd, const unsigned char* data, ssize_t n) {
    while (n > 0) {
        ssize_t w = write(fd, data, (size_t)n);
        if (w < 0) {
            if (errno == EINTR) continue;
            if (errno == EAGAIN) { struct pollfd p = {fd, POLLOUT, 0}; poll(&p, 1, 100); continue; }
            return -1;
        }
        data += w;
        n -= w;
    }
    return 0;
}

static int usage(void) {
    fprintf(stderr, "usage: vornex-ptylink --com N --port P\n");
    return 2;
}

int main(int argc, char** argv) {
    int com = -1, port = -1;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (strcmp(argv[i], "--com") == 0) com = atoi(argv[i + 1]);
        else if (strcmp(argv[i], "--port") == 0) port = atoi(argv[i + 1]);
        else return usage();
    }
    if (com < 1 || com > 255 || port < 1 || port > 65535 || argc != 5) return usage();
    const char* prefix = getenv("WINEPREFIX");
    if (!prefix || !*prefix) { fprintf(stderr, "vornex-ptylink: WINEPREFIX is not set\n"); return 2; }

    int master = -1, slave = -1;
    char slave_name[256];
    if (openpty(&master, &slave, slave_name, NULL, NULL) != 0) { perror("openpty"); return 1; }
    struct termios tio;
    tcgetattr(slave, &tio);
    cfmakeraw(&tio);
    tio.c_lflag &= ~(ECHO | ECHONL);
    tcsetattr(slave, TCSANOW, &tio);
    fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK);

    snprintf(g_link, sizeof g_link, "%s/dosdevices/com%d", prefix, com);
    unlink(g_link);
    if (symlink(slave_name, g_link) != 0) { perror("symlink"); return 1; }

    int listener = socket(AF_INET, SOCK_STREAM, 0);
    int one = 1;
    setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    struct sockaddr_in addr;
    memset(&addr, 0, sizeof addr);
    addr.sin_family = AF_INET;
    addr.sin_port = htons((unsigned short)port);
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (bind(listener, (struct sockaddr*)&addr, sizeof addr) != 0 || listen(listener, 1) != 0) {
        perror("listen");
        unlink(g_link);
        return 1;
    }

    struct sigaction sa;
    memset(&sa, 0, sizeof sa);
    sa.sa_handler = on_signal;
    sigaction(SIGTERM, &sa, NULL);
    sigaction(SIGINT, &sa, NULL);
    signal(SIGPIPE, SIG_IGN);

    printf("READY %s\n", slave_name);
    fflush(stdout);

    int client = -1;
    unsigned char buf[65536];
    while (!g_stop) {
        struct pollfd fds[2] = {{master, POLLIN, 0}, {client >= 0 ? client : listener, POLLIN, 0}};
        if (poll(fds, 2, 200) < 0) continue;
        if (fds[0].revents & POLLIN) {
            ssize_t n = read(master, buf, sizeof buf);
            if (n > 0 && client >= 0 && write_all(client, buf, n) != 0) { close(client); client = -1; }
        }
        if (fds[1].revents & (POLLIN | POLLHUP | POLLERR)) {
            if (client < 0) {
                client = accept(listener, NULL, NULL);
                if (client >= 0) setsockopt(client, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
            } else {
                ssize_t n = read(client, buf, sizeof buf);
                if (n <= 0) { close(client); client = -1; }
                else write_all(master, buf, n);
            }
        }
    }
    if (client >= 0) close(client);
    close(listener);
    unlink(g_link);
    close(slave);
    close(master);
    return 0;
}
