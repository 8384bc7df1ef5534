/* The floor for bench/measure_program.py: about the least a program can be
 * that shows a window, answers a click with a drawing and sends MIDI. A plain
 * Xlib window of the panel's size and one JACK MIDI output port; the main
 * thread blocks in poll on the X connection, drawing one rectangle per press
 * and per release (key "A" of the panel, with its frame and face colours, so
 * the panel's pixel checks find it drawn) and handing Note On 89 to the JACK
 * process callback through a ring buffer; with --alsa, an ALSA sequencer
 * client instead, which sends each note direct on the X event, subscribed to
 * every port named in the arguments that follow (client:port).
 *
 * Usage: bare_client [--no-jack | --alsa [CLIENT:PORT...]]   (window title
 * BARE_CLIENT, JACK client "bare_client" with port "out", or the sequencer
 * client "bare_client" with port "out"; --no-jack: the window alone)
 */
#include <alsa/asoundlib.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <jack/jack.h>
#include <jack/midiport.h>
#include <jack/ringbuffer.h>
#include <poll.h>
#include <stdio.h>
#include <string.h>

enum { WIDTH = 910, HEIGHT = 550 };

static jack_port_t* g_port;
static jack_ringbuffer_t* g_queue; /* 3-byte messages from the X thread */

static int process(jack_nframes_t frames, void* arg) {
    (void)arg;
    void* buffer = jack_port_get_buffer(g_port, frames);
    jack_midi_clear_buffer(buffer);
    unsigned char message[3];
    while (jack_ringbuffer_read_space(g_queue) >= sizeof message) {
        jack_ringbuffer_read(g_queue, (char*)message, sizeof message);
        jack_midi_event_write(buffer, 0, message, sizeof message);
    }
    return 0;
}

static snd_seq_t* g_seq;
static int g_seq_port;

static void send_note(int value) {
    if (g_seq) {
        snd_seq_event_t ev;
        snd_seq_ev_clear(&ev);
        snd_seq_ev_set_noteon(&ev, 0, 89, value);
        snd_seq_ev_set_source(&ev, g_seq_port);
        snd_seq_ev_set_subs(&ev);
        snd_seq_ev_set_direct(&ev);
        snd_seq_event_output_direct(g_seq, &ev);
        return;
    }
    if (!g_queue) return;
    const unsigned char message[3] = {0x90, 89, (unsigned char)value};
    if (jack_ringbuffer_write_space(g_queue) >= sizeof message) jack_ringbuffer_write(g_queue, (const char*)message, 3);
}

/* Key "A" of the panel: frame 0x777777 and face 0xBBBBBB (white while held)
 * on the 0x444444 background. */
static void draw(Display* dpy, Window w, GC gc, int full, int held) {
    if (full) {
        XSetForeground(dpy, gc, 0x444444);
        XFillRectangle(dpy, w, gc, 0, 0, WIDTH, HEIGHT);
        XSetForeground(dpy, gc, 0x777777);
        XFillRectangle(dpy, w, gc, 541, 11, 58, 28);
    }
    XSetForeground(dpy, gc, held ? 0xFFFFFF : 0xBBBBBB);
    XFillRectangle(dpy, w, gc, 543, 13, 54, 24);
}

int main(int argc, char** argv) {
    const int with_alsa = argc > 1 && strcmp(argv[1], "--alsa") == 0;
    const int with_jack = !with_alsa && !(argc > 1 && strcmp(argv[1], "--no-jack") == 0);
    Display* dpy = XOpenDisplay(NULL);
    if (!dpy) {
        fprintf(stderr, "bare_client: no display\n");
        return 3;
    }
    jack_client_t* client = NULL;
    if (with_jack) {
        client = jack_client_open("bare_client", JackNoStartServer, NULL);
        if (client) {
            g_port = jack_port_register(client, "out", JACK_DEFAULT_MIDI_TYPE, JackPortIsOutput, 0);
            g_queue = jack_ringbuffer_create(4096);
            jack_set_process_callback(client, process, NULL);
            if (!g_port || !g_queue || jack_activate(client) != 0) {
                fprintf(stderr, "bare_client: JACK port failed\n");
                return 1;
            }
        } else {
            fprintf(stderr, "bare_client: no JACK server; the window alone\n");
        }
    }
    if (with_alsa) {
        if (snd_seq_open(&g_seq, "default", SND_SEQ_OPEN_OUTPUT, SND_SEQ_NONBLOCK) < 0) {
            fprintf(stderr, "bare_client: no ALSA sequencer\n");
            return 1;
        }
        snd_seq_set_client_name(g_seq, "bare_client");
        g_seq_port = snd_seq_create_simple_port(g_seq, "out", SND_SEQ_PORT_CAP_READ | SND_SEQ_PORT_CAP_SUBS_READ,
                                                SND_SEQ_PORT_TYPE_MIDI_GENERIC | SND_SEQ_PORT_TYPE_APPLICATION);
        for (int i = 2; i < argc; ++i) {
            snd_seq_addr_t to;
            if (snd_seq_parse_address(g_seq, &to, argv[i]) < 0 ||
                snd_seq_connect_to(g_seq, g_seq_port, to.client, to.port) < 0) {
                fprintf(stderr, "bare_client: cannot subscribe %s\n", argv[i]);
                return 1;
            }
        }
    }
    const int screen = DefaultScreen(dpy);
    Window w = XCreateSimpleWindow(dpy, RootWindow(dpy, screen), 0, 0, WIDTH, HEIGHT, 0, 0, 0x444444);
    XStoreName(dpy, w, "BARE_CLIENT");
    Atom wm_delete = XInternAtom(dpy, "WM_DELETE_WINDOW", False);
    XSetWMProtocols(dpy, w, &wm_delete, 1);
    XSelectInput(dpy, w, ExposureMask | ButtonPressMask | ButtonReleaseMask);
    GC gc = XCreateGC(dpy, w, 0, NULL);
    XMapWindow(dpy, w);
    XFlush(dpy);

    struct pollfd fd = {ConnectionNumber(dpy), POLLIN, 0};
    int held = 0, running = 1;
    while (running) {
        while (running && XPending(dpy)) {
            XEvent e;
            XNextEvent(dpy, &e);
            switch (e.type) {
                case Expose:
                    if (e.xexpose.count == 0) draw(dpy, w, gc, 1, held);
                    break;
                case ButtonPress:
                case ButtonRelease:
                    if (e.xbutton.button != Button1) break;
                    held = e.type == ButtonPress;
                    send_note(held ? 127 : 0);
                    draw(dpy, w, gc, 0, held);
                    break;
                case ClientMessage:
                    if ((Atom)e.xclient.data.l[0] == wm_delete) running = 0;
                    break;
                default: break;
            }
        }
        XFlush(dpy);
        if (running) poll(&fd, 1, -1);
    }
    if (client) jack_client_close(client);
    XCloseDisplay(dpy);
    return 0;
}
