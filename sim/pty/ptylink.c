/* vornex-ptylink: puts a loopback TCP byte stream behind a Wine COM port.
 *
 * Wine maps a pty to COMn through $WINEPREFIX/dosdevices/comN. A pty created
 * by the peer itself is byte-exact, so this program creates it, keeps a
 * descriptor of the slave open (the master then never reads EIO while Wine
 * has the port closed), links comN to the slave, and bridges every byte
 * between the pty and one TCP client on 127.0.0.1:PORT. Bytes the pty
 * produces while no client is connected are dropped.
 *
 * Usage: vornex-ptylink --com N|auto --port P|0 [--state FILE]
 * "auto" takes the first COM number from 20 up that no link in the prefix
 * holds (a link whose pty is gone is taken over); port 0 takes a free port,
 * so that several test runs on one machine never meet. Prints
 * "READY COM<n> <port> <slave path>" once the link exists; ends on
 * SIGTERM/SIGINT. With --state, FILE holds "COM<n> <port> <rate> <format>"
 * (for example "COM20 40113 38400 8N1"), rewritten whenever the Windows side
 * sets the line otherwise, so that tests can see how the port was opened. */
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
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

static volatile sig_atomic_t g_stop = 0;
static char g_link[4096];

static void on_signal(int sig) { (void)sig; g_stop = 1; }

/* Waits while the other side is full, but not past a stop: a port nobody
   reads any more would otherwise keep the link alive for ever. */
static int write_all(int fd, const unsigned char* data, ssize_t n) {
    while (n > 0 && !g_stop) {
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
    fprintf(stderr, "usage: vornex-ptylink --com N|auto --port P|0 [--state FILE]\n");
    return 2;
}

/* Links comN to slave; with com 0 the first free number from 20. */
static int link_com(const char* prefix, int com, const char* slave) {
    for (int n = com ? com : 20; n <= 255; ++n) {
        snprintf(g_link, sizeof g_link, "%s/dosdevices/com%d", prefix, n);
        if (com) unlink(g_link);
        if (symlink(slave, g_link) == 0) return n;
        struct stat target;
        if (errno == EEXIST && !com && stat(g_link, &target) != 0 && unlink(g_link) == 0 && symlink(slave, g_link) == 0)
            return n;
        if (com) break;
    }
    g_link[0] = 0;
    return -1;
}

/* Rewrites the state file when the line settings of the slave changed. */
static void write_state(const char* path, int slave, int com, int port, char* last, size_t size) {
    static const struct { speed_t code; int rate; } rates[] = {
        {B300, 300}, {B1200, 1200}, {B2400, 2400}, {B4800, 4800}, {B9600, 9600}, {B19200, 19200},
        {B38400, 38400}, {B57600, 57600}, {B115200, 115200}, {B230400, 230400}, {B460800, 460800}};
    struct termios t;
    if (!path || tcgetattr(slave, &t) != 0) return;
    int rate = 0;
    for (size_t i = 0; i < sizeof rates / sizeof rates[0]; ++i)
        if (cfgetospeed(&t) == rates[i].code) rate = rates[i].rate;
    /* A rate set as a plain number (termios2, as newer Wine does) is read
     * back the same way. */
    struct { tcflag_t iflag, oflag, cflag, lflag; cc_t line, cc[19]; speed_t ispeed, ospeed; } t2;
    if (ioctl(slave, _IOR('T', 0x2A, t2), &t2) == 0 && t2.ospeed) rate = (int)t2.ospeed;
    const int bits = (t.c_cflag & CSIZE) == CS5 ? 5 : (t.c_cflag & CSIZE) == CS6 ? 6 : (t.c_cflag & CSIZE) == CS7 ? 7 : 8;
    char text[128];
    snprintf(text, sizeof text, "COM%d %d %d %d%c%d\n", com, port, rate, bits,
             !(t.c_cflag & PARENB) ? 'N' : (t.c_cflag & PARODD) ? 'O' : 'E', (t.c_cflag & CSTOPB) ? 2 : 1);
    if (strcmp(text, last) == 0) return;
    snprintf(last, size, "%s", text);
    char temp[4200];
    snprintf(temp, sizeof temp, "%s.new", path);
    FILE* f = fopen(temp, "w");
    if (!f) return;
    fputs(text, f);
    fclose(f);
    rename(temp, path);
}

int main(int argc, char** argv) {
    int com = -1, port = -1;
    const char* state = NULL;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (strcmp(argv[i], "--com") == 0) com = strcmp(argv[i + 1], "auto") == 0 ? 0 : atoi(argv[i + 1]);
        else if (strcmp(argv[i], "--port") == 0) port = atoi(argv[i + 1]);
        else if (strcmp(argv[i], "--state") == 0) state = argv[i + 1];
        else return usage();
    }
    if (com < 0 || com > 255 || port < 0 || port > 65535 || (argc != 5 && argc != 7)) return usage();
    const char* prefix = getenv("WINEPREFIX");
    if (!prefix || !*prefix) { fprintf(stderr, "vornex-ptylink: WINEPREFIX is not set\n"); return 2; }

    int master = -1, slave = -1;
    char slave_name[256];
    if (openpty(&master, &slave, slave_name, NULL, NULL) != 0) { perror("openpty"); return 1; }
    struct termios tio;
    tcgetattr(slave, &tio);
    cfmakeraw(&tio);
    tio.c_lflag &= ~(ECHO | ECHONL);
    /* Starts at settings no host asks for, so the state file shows whether
     * the Windows side set the line at all. */
    cfsetspeed(&tio, B1200);
    tio.c_cflag = (tio.c_cflag & ~CSIZE) | CS7 | PARENB | CSTOPB;
    tcsetattr(slave, TCSANOW, &tio);
    fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK);

    com = link_com(prefix, com, slave_name);
    if (com < 0) { perror("symlink"); return 1; }

    int listener = socket(AF_INET, SOCK_STREAM, 0);
    int one = 1;
    setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    struct sockaddr_in addr;
    memset(&addr, 0, sizeof addr);
    addr.sin_family = AF_INET;
    addr.sin_port = htons((unsigned short)port);
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t addr_size = sizeof addr;
    if (bind(listener, (struct sockaddr*)&addr, sizeof addr) != 0 || listen(listener, 1) != 0 ||
        getsockname(listener, (struct sockaddr*)&addr, &addr_size) != 0) {
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

    printf("READY COM%d %d %s\n", com, ntohs(addr.sin_port), slave_name);
    fflush(stdout);

    int client = -1;
    unsigned char buf[65536];
    char last[128] = "";
    port = ntohs(addr.sin_port);
    while (!g_stop) {
        write_state(state, slave, com, port, last, sizeof last);
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
