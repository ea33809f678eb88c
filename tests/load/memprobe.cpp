// tavrelle_memprobe: a test-only Pd object that reports the heap in use. Any message to
// it posts "memprobe <selector> <bytes>", the bytes that malloc has handed out and not
// taken back (mallinfo2), so a patch can compare its memory before and after work.
#include <m_pd.h>

#include <malloc.h>

static t_class *memprobe_class;

struct t_memprobe {
    t_object x_obj;
};

static void memprobe_anything(t_memprobe *, t_symbol *s, int, t_atom *) {
    struct mallinfo2 m = mallinfo2();
    post("memprobe %s %zu", s->s_name, m.uordblks + m.hblkhd);
}

static void *memprobe_new() { return pd_new(memprobe_class); }

extern "C" __attribute__((visibility("default"))) void tavrelle_memprobe_setup() {
    memprobe_class = class_new(gensym("tavrelle_memprobe"), (t_newmethod)memprobe_new, nullptr,
                               sizeof(t_memprobe), 0, A_NULL);
    class_addanything(memprobe_class, (t_method)memprobe_anything);
}
