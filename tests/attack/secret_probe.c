// SPDX-License-Identifier: GPL-2.0-or-later
/* A GTK module an ordinary user loads into their own window of the client to
 * see what of other users' secrets it can reach. Two seconds after GTK is up it
 * types the account named in "<its path>.type" into the account box (as the
 * user could), waits for the engine's answer, then writes "<its path>.texts"
 * (every entry's and every label's text, "entry:" or "label:" before it) and
 * "<its path>.found" (each text of "<its path>.needles", hex-encoded one per
 * line, that occurs anywhere in the process's readable memory; each hit
 * appends to it), and last
 * "<its path>.done". */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <fcntl.h>
#include <gtk/gtk.h>
#include <stdio.h>
#include <string.h>
#include <sys/mman.h>
#include <sys/uio.h>
#include <unistd.h>

enum { NEEDLES_MAX = 8, NEEDLE_MAX = 64, CHUNK = 1 << 16 };

static char base[4096];
static char needles[NEEDLES_MAX][NEEDLE_MAX];
static size_t needle_len[NEEDLES_MAX];
static int needle_count;
static FILE *texts;

static int path_of(char *out, size_t size, const char *suffix)
{
    return snprintf(out, size, "%s%s", base, suffix) < (int)size;
}

/* Reads a small file whole with plain read(): no stdio buffer keeps a copy. */
static ssize_t read_small(const char *suffix, char *buf, size_t size)
{
    char path[4200];
    if (!path_of(path, sizeof path, suffix))
        return -1;
    int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return -1;
    ssize_t n = read(fd, buf, size - 1);
    close(fd);
    if (n >= 0)
        buf[n] = '\0';
    return n;
}

static int hex(char c)
{
    return c >= '0' && c <= '9' ? c - '0' : (c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1);
}

static void load_needles(void)
{
    char text[NEEDLES_MAX * (NEEDLE_MAX * 2 + 1) + 1];
    if (read_small(".needles", text, sizeof text) <= 0)
        return;
    for (char *line = strtok(text, "\n"); line && needle_count < NEEDLES_MAX; line = strtok(NULL, "\n")) {
        size_t n = 0;
        for (const char *p = line; hex(p[0]) >= 0 && hex(p[1]) >= 0 && n < NEEDLE_MAX; p += 2)
            needles[needle_count][n++] = (char)(hex(p[0]) * 16 + hex(p[1]));
        needle_len[needle_count++] = n;
    }
}

static void record_texts(GtkWidget *w, gpointer data)
{
    (void)data;
    if (GTK_IS_ENTRY(w))
        fprintf(texts, "entry:%s\n", gtk_entry_get_text(GTK_ENTRY(w)));
    else if (GTK_IS_LABEL(w))
        fprintf(texts, "label:%s\n", gtk_label_get_text(GTK_LABEL(w)));
    if (GTK_IS_CONTAINER(w))
        gtk_container_forall(GTK_CONTAINER(w), record_texts, NULL);
}

/* The first combo of a window is its account box. */
static int typed;

static void type_account(GtkWidget *w, gpointer account)
{
    if (typed)
        return;
    if (GTK_IS_COMBO(w)) {
        gtk_entry_set_text(GTK_ENTRY(GTK_COMBO(w)->entry), account);
        typed = 1;
    } else if (GTK_IS_CONTAINER(w)) {
        gtk_container_forall(GTK_CONTAINER(w), type_account, account);
    }
}

static void for_every_window(GtkCallback fn, gpointer data)
{
    GList *windows = gtk_window_list_toplevels();
    for (GList *l = windows; l; l = l->next)
        fn(GTK_WIDGET(l->data), data);
    g_list_free(windows);
}

static int is_own(unsigned long addr, const void *buf, size_t size)
{
    return addr + NEEDLE_MAX > (unsigned long)buf && addr < (unsigned long)buf + size;
}

/* Every readable mapping, copied out through the kernel so that an unbacked
 * page gives an error rather than a fault; the probe's own buffers do not count. */
static void scan_memory(FILE *found)
{
    char *chunk = mmap(NULL, CHUNK, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    FILE *maps = fopen("/proc/self/maps", "r");
    if (chunk == MAP_FAILED || !maps)
        return;
    int hits[NEEDLES_MAX] = {0};
    char line[512];
    while (fgets(line, sizeof line, maps)) {
        unsigned long from, to;
        char perms[5];
        // Reserved ranges of a gigabyte and more are a sanitizer's shadow, not data.
        if (sscanf(line, "%lx-%lx %4s", &from, &to, perms) != 3 || perms[0] != 'r' ||
            to - from >= (1UL << 30))
            continue;
        for (unsigned long at = from; at < to; at += CHUNK - NEEDLE_MAX) {
            size_t want = to - at < CHUNK ? to - at : CHUNK;
            struct iovec local = {chunk, want}, remote = {(void *)at, want};
            ssize_t got = process_vm_readv(getpid(), &local, 1, &remote, 1, 0);
            for (int i = 0; got > 0 && i < needle_count; i++) {
                const char *p = chunk;
                while ((p = memmem(p, (size_t)got - (size_t)(p - chunk), needles[i], needle_len[i]))) {
                    unsigned long where = at + (unsigned long)(p - chunk);
                    if (!is_own(where, chunk, CHUNK) && !is_own(where, needles, sizeof needles))
                        hits[i]++;
                    p++;
                }
            }
            if (to - at <= CHUNK)
                break;
        }
    }
    fclose(maps);
    for (int i = 0; i < needle_count; i++) {
        if (hits[i])
            fprintf(found, "needle %d: %d times\n", i, hits[i]);
    }
    munmap(chunk, CHUNK);
}

static gboolean look(gpointer data)
{
    (void)data;
    char path[4200];
    if (path_of(path, sizeof path, ".texts") && (texts = fopen(path, "w"))) {
        for_every_window(record_texts, NULL);
        fclose(texts);
    }
    FILE *found = path_of(path, sizeof path, ".found") ? fopen(path, "w") : NULL;
    if (found) {
        scan_memory(found);
        fclose(found);
    }
    if (path_of(path, sizeof path, ".done"))
        fclose(fopen(path, "w"));
    return G_SOURCE_REMOVE;
}

static gboolean type(gpointer data)
{
    (void)data;
    static char account[128];
    if (read_small(".type", account, sizeof account) > 0) {
        account[strcspn(account, "\n")] = '\0';
        for_every_window(type_account, account);
    }
    g_timeout_add(1500, look, NULL);
    return G_SOURCE_REMOVE;
}

void gtk_module_init(int *argc, char ***argv)
{
    (void)argc;
    (void)argv;
    Dl_info info;
    if (!dladdr((void *)gtk_module_init, &info) || !info.dli_fname ||
        snprintf(base, sizeof base, "%s", info.dli_fname) >= (int)sizeof base)
        return;
    load_needles();
    g_timeout_add(2000, type, NULL);
}
