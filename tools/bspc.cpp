// vantrel-bspc: the level compiler. Builds the solid BSP tree of a level in
// the polygon list text format, its portals and visible sets, and reports.
//
//   vantrel-bspc LEVEL.txt [--leaf X Y Z] [--svg FILE] [--log FILE]
//                [--check-vis N] [--literal] [--full-search] [--threads N]
//
// Prints the tree statistics and a summary (nodes, leaves, portals, visible
// set sizes, time per phase). --leaf prints the leaf holding a point and what
// it sees; --svg writes a top-down plan (floors of the empty leaves, walls,
// the tree's portals) with the visible set of the leaf under the --leaf point (or of the
// first empty leaf) highlighted. --check-vis samples N clear sightlines and
// reports those missing from the visible sets (exit code 3 when any is).
// --literal builds with the original step-by-step rules, --full-search scores
// every splitter candidate, --threads sets the visibility workers. Progress
// goes to standard error; on failure the reason is printed there and the exit
// code is 1 (2: bad usage). The log is written only to the --log file.
//
// --cds FILE writes the compiled level as a container that the media loader
// reads (mediaman_t::read_level): the tree, its meshes and a text naming the
// material library, --matlib NAME (default "materials.cds", relative to FILE).
#include <cfloat>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "platform/platform.h"
#include "kdbase/d_list.h"
#include "kdbase/errorlog.h"
#include "kdbase/mem_collector.h"
#include "mediaman/mediaman.h"
#include "world/bsp_portal.h"
#include "world/solid_bsp.h"

using namespace vantrel;

namespace {

// When the build's phases ended, taken from its status notes.
unsigned int start_ms, tree_ms, portals_ms;
int portal_count = -1;

void on_status(const char* message)
{
    unsigned int now = get_milli_uptime();
    if (!strncmp(message, "nmeshes=", 8)) {
        tree_ms = now;
    } else if (!strncmp(message, "portals=", 8)) {
        long long n = 0;
        if (scan_integer(message + 8, &n))
            portal_count = (int)n;
        portals_ms = now;
    }
    fprintf(stderr, "  [%6.2f s] %s", (now - start_ms) / 1000.0, message);
}

int usage()
{
    fprintf(stderr,
            "usage: vantrel-bspc LEVEL.txt [--leaf X Y Z] [--svg FILE] [--log FILE] [--check-vis N] [--literal] "
            "[--full-search] [--threads N] [--cds FILE [--matlib NAME]]\n");
    return 2;
}

// Failures and warnings of the build, shown whatever the log says.
std::string problems;
int nwarnings;

std::string details[3];  // the last debugging notes: the reason when no error says it
int ndetails;

void on_log(int priority, const char* message)
{
    if (priority >= EL_MINDEBUG) {
        details[ndetails++ % 3] = message;
        return;
    }
    if (priority > EL_MINOR) {
        if (priority <= EL_STATUS + 1)
            on_status((std::string(message) + "\n").data());
        return;
    }
    if (priority == EL_MINOR && ++nwarnings > 5)
        return;
    problems += "  ";
    problems += message;
    problems += "\n";
}

bool parse_count(const char* s, int* out)
{
    long long v = 0;
    size_t used = scan_integer(s, &v);
    if (!used || s[used] || v < 0 || v > 100000000)
        return false;
    *out = (int)v;
    return true;
}

bool parse_float(const char* s, float* out)
{
    double v = 0;
    size_t used = scan_decimal(s, &v);
    if (!used || s[used])
        return false;
    *out = (float)v;
    return true;
}

int leaf_number(solid_bsp_t& bsp, bsp_index_t* leaf)
{
    for (int k = 0; k < bsp.stats.ni_nodes; ++k)
        if (bsp.i_nodes[k] == leaf)
            return k;
    return -1;
}

// ---- the plan ----------------------------------------------------------------------

struct plan {
    FILE* f;
    float x0, z0, scale;
    double px(float x) const { return 20 + (x - x0) * scale; }
    double pz(float z) const { return 20 + (z - z0) * scale; }

    // The polygon projected onto the floor plane.
    void shape(n_poly* p, const char* style)
    {
        fprintf(f, "<polygon points=\"");
        for (int k = 0; k < p->nverts; ++k) {
            const float* v = p->va[p->vi[k]].v;
            fprintf(f, "%.2f,%.2f ", px(v[0]), pz(v[2]));
        }
        fprintf(f, "\" style=\"%s\"/>\n", style);
    }
};

// 0: not shown specially, 1: visible from the chosen leaf, 2: the chosen leaf.
int leaf_class(bsp_index_t* chosen, int chosen_num, int leaf)
{
    if (!chosen)
        return 0;
    if (leaf == chosen_num)
        return 2;
    for (d_node* n = chosen->visible_leafs.first; n; n = n->next)
        if ((int)(intptr_t)n->data == leaf)
            return 1;
    return 0;
}

int write_svg(const char* name, solid_bsp_t& bsp, d_list* portals, float* point, bsp_index_t* chosen)
{
    FILE* f = fopen(name, "w");
    if (!f) {
        fprintf(stderr, "vantrel-bspc: cannot write %s\n", name);
        return -1;
    }
    bbox_t& box = bsp.root.bbox;
    float w = box.max[0] - box.min[0], d = box.max[2] - box.min[2];
    float big = w > d ? w : d;
    plan pl{f, box.min[0], box.min[2], big > 0 ? 960.0f / big : 1.0f};
    int chosen_num = chosen ? leaf_number(bsp, chosen) : -1;
    fprintf(f, "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"%.0f\" height=\"%.0f\">\n", w * pl.scale + 40,
            d * pl.scale + 80);
    fprintf(f, "<rect width=\"100%%\" height=\"100%%\" fill=\"#fcfcf8\"/>\n");
    static const char* floor_style[3] = {"fill:#e4e4e4;stroke:#c8c8c8;stroke-width:0.5",
                                         "fill:#b8e0b0;stroke:#90c088;stroke-width:0.5",
                                         "fill:#f4b860;stroke:#d09040;stroke-width:0.5"};
    // Floors first, then walls on top.
    for (int pass = 0; pass < 2; ++pass) {
        for (int k = 0; k < bsp.stats.ni_nodes; ++k) {
            bsp_index_t* leaf = bsp.i_nodes[k];
            if (!(leaf->flags & BN_ISLEAF) || (leaf->flags & BN_ISSOLID) || !leaf->meshes)
                continue;
            int cls = leaf_class(chosen, chosen_num, k);
            for (int m = 0; leaf->meshes[m] != -1; ++m) {
                mesh_t* mesh = bsp.meshes[leaf->meshes[m]];
                for (int p = 0; p < mesh->npolys; ++p) {
                    n_poly* poly = &mesh->polys[p];
                    if (!VALID_PRIMITIVE(poly))
                        continue;
                    if (pass == 0 && poly->normal[1] > 0.7f)
                        pl.shape(poly, floor_style[cls]);
                    else if (pass == 1 && poly->normal[1] < 0.3f && poly->normal[1] > -0.3f)
                        pl.shape(poly, "fill:none;stroke:#303030;stroke-width:2");
                }
            }
        }
    }
    for (d_node* n = portals ? portals->first : nullptr; n; n = n->next)
        pl.shape(static_cast<bsp_portal_t*>(n->object), "fill:none;stroke:#2060e0;stroke-width:3;stroke-dasharray:6,4");
    if (point)
        fprintf(f, "<circle cx=\"%.2f\" cy=\"%.2f\" r=\"5\" fill=\"#e02020\"/>\n", pl.px(point[0]), pl.pz(point[2]));
    fprintf(f,
            "<text x=\"20\" y=\"%.0f\" font-family=\"sans-serif\" font-size=\"13\">top view (x right, z down): "
            "orange = leaf at the red point, green = its visible set, blue dashes = portals, "
            "%d empty leaves</text>\n",
            d * pl.scale + 60, bsp.stats.empty);
    fprintf(f, "</svg>\n");
    return fclose(f) == 0 ? 0 : -1;
}

}  // namespace

int main(int argc, char** argv)
{
    const char* level = nullptr;
    const char* svg = nullptr;
    const char* log = "";
    float point[4] = {0, 0, 0, 0};
    bool have_point = false;
    int check = -1;
    solid_bsp_t bsp;
    const char* cds_out = nullptr;
    const char* matlib = "materials.cds";
    for (int k = 1; k < argc; ++k) {
        if (!strcmp(argv[k], "--cds") && k + 1 < argc) {
            cds_out = argv[++k];
            continue;
        }
        if (!strcmp(argv[k], "--matlib") && k + 1 < argc) {
            matlib = argv[++k];
            continue;
        }
        if (!strcmp(argv[k], "--leaf")) {
            if (k + 3 >= argc || !parse_float(argv[k + 1], &point[0]) || !parse_float(argv[k + 2], &point[1]) ||
                !parse_float(argv[k + 3], &point[2]))
                return usage();
            have_point = true;
            k += 3;
        } else if (!strcmp(argv[k], "--svg") && k + 1 < argc) {
            svg = argv[++k];
        } else if (!strcmp(argv[k], "--log") && k + 1 < argc) {
            log = argv[++k];
        } else if (!strcmp(argv[k], "--check-vis")) {
            if (k + 1 >= argc || !parse_count(argv[k + 1], &check))
                return usage();
            ++k;
        } else if (!strcmp(argv[k], "--threads")) {
            if (k + 1 >= argc || !parse_count(argv[k + 1], &bsp.options.threads))
                return usage();
            ++k;
        } else if (!strcmp(argv[k], "--literal")) {
            bsp.options.mode = BSP_MODE_LITERAL;
        } else if (!strcmp(argv[k], "--full-search")) {
            bsp.options.search = BSP_SEARCH_FULL;
        } else if (argv[k][0] == '-' || level) {
            return usage();
        } else {
            level = argv[k];
        }
    }
    if (!level)
        return usage();

    set_logfile(log);
    set_log_priority(EL_MINDEBUG);
    set_log_listener(on_log);

    fprintf(stderr, "compiling %s\n", level);
    start_ms = get_milli_uptime();
    int rc = bsp.build((char*)level);
    unsigned int end_ms = get_milli_uptime();
    set_log_listener(nullptr);
    set_log_priority(EL_STATUS + 1);
    if (rc != 0) {
        if (problems.empty())
            for (int k = ndetails > 3 ? ndetails - 3 : 0; k < ndetails; ++k)
                problems += "  " + details[k % 3] + "\n";
        fprintf(stderr, "vantrel-bspc: %s: compilation failed:\n%s", level,
                problems.empty() ? "  (no reason was given)\n" : problems.c_str());
        return 1;
    }
    if (cds_out && write_level(cds_out, &bsp, matlib) != 0) {
        fprintf(stderr, "vantrel-bspc: could not write the container %s\n", cds_out);
        return 1;
    }
    if (!problems.empty())
        fprintf(stderr, "warnings:\n%s%s", problems.c_str(), nwarnings > 5 ? "  ...\n" : "");

    dump_tree_stats(stdout, &bsp.stats);
    int largest = 0;
    long total = 0;
    for (int k = 0; k < bsp.stats.ni_nodes; ++k) {
        bsp_index_t* b = bsp.i_nodes[k];
        if ((b->flags & BN_ISLEAF) && !(b->flags & BN_ISSOLID)) {
            total += b->visible_leafs.count;
            if (b->visible_leafs.count > largest)
                largest = b->visible_leafs.count;
        }
    }
    printf("nodes: %d in the table (%d internal, %d empty leaves, %d solid leaves)\n", bsp.stats.ni_nodes,
           bsp.stats.nnodes, bsp.stats.empty, bsp.stats.solid);
    printf("portals: %d\n", portal_count);
    if (bsp.nsealed)
        printf("sealed pockets: %d empty leaves without portals (they see nothing)\n", bsp.nsealed);
    printf("visible sets: %.1f leaves on average, %d at most\n",
           bsp.stats.empty ? (double)total / bsp.stats.empty : 0.0, largest);
    printf("time: tree %.3f s, portals %.3f s, visibility %.3f s, total %.3f s\n", (tree_ms - start_ms) / 1000.0,
           (portals_ms - tree_ms) / 1000.0, (end_ms - portals_ms) / 1000.0, (end_ms - start_ms) / 1000.0);

    int status = 0;
    if (check >= 0) {
        bsp_vis_check_t vc;
        unsigned int t0 = get_milli_uptime();
        if (bsp_check_vis(&bsp, check, 1, &vc) != 0) {
            fprintf(stderr, "vantrel-bspc: the visibility check failed\n");
            return 1;
        }
        printf("check-vis: %d clear sightlines (%d between nearby points), %d missed (%.2f %%) in %.2f s\n",
               vc.tested, vc.local, vc.missed, vc.tested ? 100.0 * vc.missed / vc.tested : 0.0,
               (get_milli_uptime() - t0) / 1000.0);
        if (vc.through_solid)
            printf("  %d more are not seen and pass through solid space on the way: the level has gaps there "
                   "(surfaces left out) that the tree closed\n",
                   vc.through_solid);
        for (int k = 0; k < vc.missed && k < bsp_vis_check_t::EXAMPLES; ++k)
            printf("  missed: (%g, %g, %g) in leaf %d to (%g, %g, %g) in leaf %d\n", vc.example[k].a[0],
                   vc.example[k].a[1], vc.example[k].a[2], vc.example[k].leaf_a, vc.example[k].b[0],
                   vc.example[k].b[1], vc.example[k].b[2], vc.example[k].leaf_b);
        if (vc.missed)
            status = 3;
    }

    bsp_index_t* chosen = nullptr;
    if (have_point) {
        chosen = bsp.get_leaf_at_pos(point);
        if (!chosen) {
            printf("point (%g, %g, %g): solid space\n", point[0], point[1], point[2]);
        } else {
            printf("point (%g, %g, %g): leaf %d, sees %d leaves:", point[0], point[1], point[2],
                   leaf_number(bsp, chosen), chosen->visible_leafs.count);
            for (d_node* n = chosen->visible_leafs.first; n; n = n->next)
                printf(" %d", (int)(intptr_t)n->data);
            printf("\n");
        }
    }
    if (svg) {
        if (!have_point) {
            // Without a point the plan shows what the first empty leaf sees.
            for (int k = 0; k < bsp.stats.ni_nodes && !chosen; ++k) {
                bsp_index_t* b = bsp.i_nodes[k];
                if ((b->flags & BN_ISLEAF) && !(b->flags & BN_ISSOLID)) {
                    chosen = b;
                    b->bbox.get_center_v(point);
                }
            }
        }
        d_list portals(1);
        if (bsp.get_portals(&portals) != 0 || write_svg(svg, bsp, &portals, point, chosen) != 0) {
            fprintf(stderr, "vantrel-bspc: could not write the plan %s\n", svg);
            return 1;
        }
        printf("plan written to %s\n", svg);
    }
    return status;
}
