// SPDX-License-Identifier: GPL-2.0-or-later
#include "auth/rc4.h"

void rc4_setup(rc4_state *s, const unsigned char *key, int length)
{
    s->x = 0;
    s->y = 0;
    int *m = s->m;
    for (int i = 0; i < 256; i++)
        m[i] = i;

    int j = 0, k = 0;
    for (int i = 0; i < 256; i++) {
        int a = m[i];
        int key_byte = length > 0 ? key[k] : 0;
        j = (j + a + key_byte) & 0xff;
        m[i] = m[j];
        m[j] = a;
        if (++k >= length)
            k = 0;
    }
}

void rc4_crypt(rc4_state *s, unsigned char *data, int length)
{
    int x = s->x, y = s->y;
    int *m = s->m;
    for (int i = 0; i < length; i++) {
        x = (x + 1) & 0xff;
        int a = m[x];
        y = (y + a) & 0xff;
        int b = m[y];
        m[x] = b;
        m[y] = a;
        data[i] ^= static_cast<unsigned char>(m[(a + b) & 0xff]);
    }
    s->x = x;
    s->y = y;
}
