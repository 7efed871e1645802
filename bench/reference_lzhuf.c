/*
 * A plain portable C version of the same LZHUF coder, written the way such
 * coders were written in the late 1980s: global tables, stdio getc/putc on
 * FILE*, a bit at a time, linear scans in the model model_count. It is the
 * benchmark's yardstick and the tests' independent second opinion on the code
 * bytes. It writes and reads the bare body (4-byte length, then the code),
 * without block framing.
 */
#include "reference_lzhuf.h"

#include <string.h>

#define RING 4096   /* window ring */
#define MAXLEN 60   /* longest match, also the look-ahead */
#define MINLEN 2
#define NONE RING
#define NSYM (256 - MINLEN + MAXLEN)
#define NODES (NSYM * 2 - 1)
#define ROOT (NODES - 1)
#define FULL 0x8000

static unsigned char ring[RING + MAXLEN - 1];
static short best_off, best_len;
static short lt[RING + 1], rt[RING + 257], up[RING + 1];

static unsigned short wt[NODES + 1];
static short par[NODES + NSYM];
static short kid[NODES];

static unsigned char hi_len[64], hi_code[64], hi_of[256], len_of[256];

static unsigned short inbuf;
static unsigned char inlen;
static unsigned short outbuf;
static unsigned char outlen;
static unsigned long outsize;

/* The offset prefix code: 1, 3, 8, 12, 24 and 16 codes of 3 to 8 bits. */
static void make_tables(void)
{
    static const int count[9] = {0, 0, 0, 1, 3, 8, 12, 24, 16};
    int len, n, h = 0, code = 0, e;

    for (len = 3; len <= 8; len++) {
        for (n = 0; n < count[len]; n++) {
            hi_len[h] = (unsigned char)len;
            hi_code[h] = (unsigned char)(code << (8 - len));
            for (e = 0; e < (1 << (8 - len)); e++) {
                hi_of[(code << (8 - len)) + e] = (unsigned char)h;
                len_of[(code << (8 - len)) + e] = (unsigned char)len;
            }
            h++;
            code++;
        }
        code <<= 1;
    }
}

static void trees_init(void)
{
    int i;

    for (i = RING + 1; i <= RING + 256; i++)
        rt[i] = NONE;
    for (i = 0; i < RING; i++)
        up[i] = NONE;
}

static void tree_insert(int r)
{
    int i, p, cmp;
    unsigned char *key;
    unsigned c;

    cmp = 1;
    key = &ring[r];
    p = RING + 1 + key[0];
    rt[r] = lt[r] = NONE;
    best_len = 0;
    for (;;) {
        if (cmp >= 0) {
            if (rt[p] != NONE)
                p = rt[p];
            else {
                rt[p] = r;
                up[r] = p;
                return;
            }
        } else {
            if (lt[p] != NONE)
                p = lt[p];
            else {
                lt[p] = r;
                up[r] = p;
                return;
            }
        }
        for (i = 1; i < MAXLEN; i++)
            if ((cmp = key[i] - ring[p + i]) != 0)
                break;
        if (i > MINLEN) {
            if (i > best_len) {
                best_off = ((r - p) & (RING - 1)) - 1;
                if ((best_len = i) >= MAXLEN)
                    break;
            }
            if (i == best_len) {
                if ((c = ((r - p) & (RING - 1)) - 1) < (unsigned)best_off)
                    best_off = c;
            }
        }
    }
    up[r] = up[p];
    lt[r] = lt[p];
    rt[r] = rt[p];
    up[lt[p]] = r;
    up[rt[p]] = r;
    if (rt[up[p]] == p)
        rt[up[p]] = r;
    else
        lt[up[p]] = r;
    up[p] = NONE;
}

static void tree_delete(int p)
{
    int q;

    if (up[p] == NONE)
        return;
    if (rt[p] == NONE)
        q = lt[p];
    else if (lt[p] == NONE)
        q = rt[p];
    else {
        q = lt[p];
        if (rt[q] != NONE) {
            do {
                q = rt[q];
            } while (rt[q] != NONE);
            rt[up[q]] = lt[q];
            up[lt[q]] = up[q];
            lt[q] = lt[p];
            up[lt[p]] = q;
        }
        rt[q] = rt[p];
        up[rt[p]] = q;
    }
    up[q] = up[p];
    if (rt[up[p]] == p)
        rt[up[p]] = q;
    else
        lt[up[p]] = q;
    up[p] = NONE;
}

static int get_bit(FILE *in)
{
    int i;

    while (inlen <= 8) {
        if ((i = getc(in)) < 0)
            i = 0;
        inbuf |= i << (8 - inlen);
        inlen += 8;
    }
    i = inbuf;
    inbuf <<= 1;
    inlen--;
    return (i >> 15) & 1;
}

static int get_byte(FILE *in)
{
    unsigned short i;

    while (inlen <= 8) {
        int c = getc(in);
        if (c < 0)
            c = 0;
        inbuf |= c << (8 - inlen);
        inlen += 8;
    }
    i = inbuf;
    inbuf <<= 8;
    inlen -= 8;
    return i >> 8;
}

static void put_bits(int l, unsigned c, FILE *out)
{
    outbuf |= c >> outlen;
    if ((outlen += l) >= 8) {
        putc(outbuf >> 8, out);
        outsize++;
        if ((outlen -= 8) >= 8) {
            putc(outbuf, out);
            outsize++;
            outlen -= 8;
            outbuf = c << (l - outlen);
        } else {
            outbuf <<= 8;
        }
    }
}

static void model_init(void)
{
    int i, j;

    for (i = 0; i < NSYM; i++) {
        wt[i] = 1;
        kid[i] = i + NODES;
        par[i + NODES] = i;
    }
    i = 0;
    j = NSYM;
    while (j <= ROOT) {
        wt[j] = wt[i] + wt[i + 1];
        kid[j] = i;
        par[i] = par[i + 1] = j;
        i += 2;
        j++;
    }
    wt[NODES] = 0xffff;
    par[ROOT] = 0;
}

static void model_rebuild(void)
{
    int i, j, k;
    unsigned f, l;

    j = 0;
    for (i = 0; i < NODES; i++) {
        if (kid[i] >= NODES) {
            wt[j] = (wt[i] + 1) / 2;
            kid[j] = kid[i];
            j++;
        }
    }
    for (i = 0, j = NSYM; j < NODES; i += 2, j++) {
        k = i + 1;
        f = wt[j] = wt[i] + wt[k];
        for (k = j - 1; f < wt[k]; k--)
            ;
        k++;
        l = (j - k) * 2;
        memmove(&wt[k + 1], &wt[k], l);
        wt[k] = f;
        memmove(&kid[k + 1], &kid[k], l);
        kid[k] = i;
    }
    for (i = 0; i < NODES; i++) {
        if ((k = kid[i]) >= NODES)
            par[k] = i;
        else
            par[k] = par[k + 1] = i;
    }
}

static void model_count(int c)
{
    int i, j, k, l;

    if (wt[ROOT] == FULL)
        model_rebuild();
    c = par[c + NODES];
    do {
        k = ++wt[c];
        if ((unsigned)k > wt[l = c + 1]) {
            while ((unsigned)k > wt[++l])
                ;
            l--;
            wt[c] = wt[l];
            wt[l] = k;

            i = kid[c];
            par[i] = l;
            if (i < NODES)
                par[i + 1] = l;

            j = kid[l];
            kid[l] = i;

            par[j] = c;
            if (j < NODES)
                par[j + 1] = c;
            kid[c] = j;

            c = l;
        }
    } while ((c = par[c]) != 0);
}

static void put_symbol(unsigned c, FILE *out)
{
    unsigned i;
    int j, k;

    i = 0;
    j = 0;
    k = par[c + NODES];
    do {
        i >>= 1;
        if (k & 1)
            i += 0x8000;
        j++;
    } while ((k = par[k]) != ROOT);
    put_bits(j, i, out);
    model_count(c);
}

static void put_offset(unsigned c, FILE *out)
{
    unsigned i;

    i = c >> 6;
    put_bits(hi_len[i], (unsigned)hi_code[i] << 8, out);
    put_bits(6, (c & 0x3f) << 10, out);
}

static void put_end(FILE *out)
{
    if (outlen) {
        putc(outbuf >> 8, out);
        outsize++;
    }
}

static int get_symbol(FILE *in)
{
    unsigned c;

    c = kid[ROOT];
    while (c < NODES) {
        c += get_bit(in);
        c = kid[c];
    }
    c -= NODES;
    model_count(c);
    return c;
}

static int get_offset(FILE *in)
{
    unsigned i, j, c;

    i = get_byte(in);
    c = (unsigned)hi_of[i] << 6;
    j = len_of[i];
    j -= 2;
    while (j--)
        i = (i << 1) + get_bit(in);
    return c | (i & 0x3f);
}

long RefEncode(FILE *in, FILE *out)
{
    int i, c, len, r, s, last;
    unsigned long length;

    make_tables();
    inbuf = outbuf = 0;
    inlen = outlen = 0;
    outsize = 0;
    fseek(in, 0L, SEEK_END);
    length = ftell(in);
    rewind(in);
    for (i = 0; i < 4; i++)
        putc((int)((length >> (8 * i)) & 0xff), out);
    outsize = 4;
    if (length == 0)
        return outsize;
    model_init();
    trees_init();
    s = 0;
    r = RING - MAXLEN;
    /* every run starts from the same window, as a fresh program would */
    memset(ring, ' ', r);
    memset(ring + r, 0, sizeof ring - r);
    for (len = 0; len < MAXLEN && (c = getc(in)) != EOF; len++)
        ring[r + len] = c;
    for (i = 1; i <= MAXLEN; i++)
        tree_insert(r - i);
    tree_insert(r);
    do {
        if (best_len > len)
            best_len = len;
        if (best_len <= MINLEN) {
            best_len = 1;
            put_symbol(ring[r], out);
        } else {
            put_symbol(255 - MINLEN + best_len, out);
            put_offset(best_off, out);
        }
        last = best_len;
        for (i = 0; i < last && (c = getc(in)) != EOF; i++) {
            tree_delete(s);
            ring[s] = c;
            if (s < MAXLEN - 1)
                ring[s + RING] = c;
            s = (s + 1) & (RING - 1);
            r = (r + 1) & (RING - 1);
            tree_insert(r);
        }
        while (i++ < last) {
            tree_delete(s);
            s = (s + 1) & (RING - 1);
            r = (r + 1) & (RING - 1);
            if (--len)
                tree_insert(r);
        }
    } while (len > 0);
    put_end(out);
    return outsize;
}

long RefDecode(FILE *in, FILE *out)
{
    int i, j, k, r, c;
    unsigned long count, length;

    make_tables();
    inbuf = 0;
    inlen = 0;
    length = 0;
    for (i = 0; i < 4; i++) {
        if ((c = getc(in)) == EOF)
            return -1;
        length |= (unsigned long)c << (8 * i);
    }
    if (length == 0)
        return 0;
    model_init();
    for (i = 0; i < RING - MAXLEN; i++)
        ring[i] = ' ';
    r = RING - MAXLEN;
    for (count = 0; count < length;) {
        c = get_symbol(in);
        if (c < 256) {
            putc(c, out);
            ring[r++] = c;
            r &= (RING - 1);
            count++;
        } else {
            i = (r - get_offset(in) - 1) & (RING - 1);
            j = c - 255 + MINLEN;
            for (k = 0; k < j; k++) {
                c = ring[(i + k) & (RING - 1)];
                putc(c, out);
                ring[r++] = c;
                r &= (RING - 1);
                count++;
            }
        }
    }
    return (long)count;
}
