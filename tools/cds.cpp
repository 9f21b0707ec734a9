// vantrel-cds: looks inside a CDS container.
//
//   vantrel-cds list <container>                    groups, chunks and embedded files
//   vantrel-cds extract <container> <entry> <file>  copies an embedded file out
//
// Problems are reported on standard error (the library's log goes there too).
#include <cstdio>
#include <cstring>

#include "kdbase/cfile.h"
#include "kdbase/errorlog.h"
#include "mediaman/cds/cds.h"

using namespace vantrel;

static int usage()
{
    fprintf(stderr,
            "usage: vantrel-cds list <container>\n"
            "       vantrel-cds extract <container> <entry> <output file>\n");
    return 2;
}

static int depth_of(cds_group_t* g)
{
    int d = 0;
    for (group_t* p = g; p; p = p->parent)
        ++d;
    return d;
}

// Every chunk in file order, indented by group depth; a malformed or cut
// chunk ends the walk with its message.
static int list_chunks(cds& c)
{
    long limit = c.GetSize();
    c.SetPos(0);
    c.curr_group = nullptr;
    printf("%-10s %-4s %10s  %s\n", "offset", "type", "size", "id");
    int count = 0;
    while (c.GetPos() < limit) {
        long offset = c.GetPos();
        chunk_header h;
        int r = c._read_header(h, limit);
        if (r < 0 || r == 2)
            return -1;
        if (r > 0) {
            printf("%ld trailing byte(s), too few for a chunk header\n", limit - offset);
            break;
        }
        int depth = depth_of(c.curr_group);
        printf("%-10ld %.4s %10ld  %*s%s\n", offset, h.type, h.size, 2 * depth, "", h.id);
        ++count;
        if (memcmp(h.type, "GROU", 4) == 0) {
            if (c.chunk_grou.read(c, h) < 0)
                return -1;
        } else if (!c.Forward(h.size)) {
            return -1;
        }
        c._close_groups();
    }
    printf("%d chunk(s)\n", count);
    return 0;
}

static void list_groups(cds& c)
{
    printf("\n%d group(s)\n", c.chunk_grou.objects.count);
    for (d_node* n = c.chunk_grou.objects.first; n; n = n->next) {
        cds_group_t* g = static_cast<cds_group_t*>(n->object);
        char path[1024] = "";
        if (!cds::get_group_path(g, path, sizeof path))
            strcpy(path, "(path too long)");
        printf("  %s (start=%ld size=%ld)\n", path, g->start, g->size);
    }
}

static int list(const char* file)
{
    cds c;
    if (c.init() < 0 || c.open(file) < 0)
        return 1;
    c.delete_type_objects();
    if (list_chunks(c) < 0)
        return 1;
    list_groups(c);
    if (c.read_all() < 0)
        return 1;
    printf("\n");
    c.list_files(stdout, "");
    return 0;
}

static int extract(const char* file, const char* entry, const char* out)
{
    cds c;
    if (c.init() < 0 || c.load(file) < 0)
        return 1;
    c.delete_type_objects();
    CFile in;
    if (c.open_file(in, entry) < 0) {
        fprintf(stderr, "vantrel-cds: %s holds no embedded file %s\n", file, entry);
        return 1;
    }
    CFile dest;
    if (!dest.Open(out, OM_WB) || !dest.Append(in)) {
        fprintf(stderr, "vantrel-cds: cannot write %s\n", out);
        return 1;
    }
    printf("%s: %ld bytes\n", out, in.GetSize());
    return 0;
}

int main(int argc, char** argv)
{
    set_log_stream(stderr);
    set_log_priority(EL_MINOR);  // failures only, not the notes on unknown chunk types
    if (argc == 3 && strcmp(argv[1], "list") == 0)
        return list(argv[2]);
    if (argc == 5 && strcmp(argv[1], "extract") == 0)
        return extract(argv[2], argv[3], argv[4]);
    return usage();
}
