// vantrel-ts2cds: converts a binary trueSpace file into a CDS container, or
// prints what the trueSpace reader found in it.
//
//   vantrel-ts2cds <trueSpace file> <container>
//   vantrel-ts2cds --stats <trueSpace file>
//
// Problems are reported on standard error (the library's log goes there too).
#include <cstdio>
#include <cstring>

#include "kdbase/errorlog.h"
#include "kdbase/g_collector.h"
#include "kdbase/kdbase_math.h"
#include "mediaman/cds/cds.h"
#include "mediaman/ts/ts_file.h"
#include "primitives/material.h"
#include "primitives/model.h"

using namespace vantrel;

static int usage()
{
    fprintf(stderr,
            "usage: vantrel-ts2cds <trueSpace file> <container>\n"
            "       vantrel-ts2cds --stats <trueSpace file>\n"
            "\n"
            "A model chunk holds neither child models nor a skin, so the container gets\n"
            "one model per polygon object, named like the object, holding its one mesh\n"
            "with the matrices of the groups above it applied (the group tree is\n"
            "flattened), and every material as a chunk of its own, named \"mat<n>\" by\n"
            "its number n, the number the polygons use.\n");
    return 2;
}

// What goes into the container; the lists own their objects until the
// container's type lists take them over.
struct output {
    d_list models{1};
    d_list mats{1};
};

// A model of its own for mesh, which then belongs to the model. An object
// without faces cannot be stored and is left out.
static int add_object_model(output& out, mesh_t* mesh)
{
    if (mesh->npolys == 0) {
        fprintf(stderr, "%s: no faces, left out\n", mesh->name ? mesh->name : "");
        delete mesh;
        return 0;
    }
    model_t* m = KD_NEW model_t;
    if (!m || m->alloc_meshes(1) < 0 || out.models.insert(m) < 0) {
        delete m;
        delete mesh;
        return -1;
    }
    m->set_name(mesh->name);
    m->meshes[0] = mesh;
    mesh->parent = m;
    return 0;
}

// Takes every mesh of model and its children: each mesh's matrix is followed
// by the matrices of its model and the models above it (up to top), and its
// material numbers move past the materials collected so far.
static int flatten(output& out, model_t* model)
{
    int offset = out.mats.count;
    for (material_t** s = model->skin; s && *s; ++s) {
        if (out.mats.insert(*s) < 0)
            return -1;
        *s = nullptr;
    }
    for (int k = 0; k < model->nmeshes; ++k) {
        mesh_t* mesh = model->meshes[k];
        model->meshes[k] = nullptr;
        if (!mesh)
            continue;
        for (model_t* up = model; up; up = dynamic_cast<model_t*>(up->parent)) {
            float m[16];
            multmatrix_mr(m, up->matrix, mesh->matrix);
            copy_m(mesh->matrix, m);
        }
        for (int p = 0; p < mesh->npolys; ++p)
            mesh->polys[p].mat += offset;
        if (add_object_model(out, mesh) < 0)
            return -1;
    }
    for (int k = 0; k < model->nchildren; ++k)
        if (model->children[k] && flatten(out, model->children[k]) < 0)
            return -1;
    return 0;
}

// True when chunk c lies below a group.
static bool in_group(CTrueSpaceFile& ts, long c)
{
    for (long up = ts.IsGroup(c); up >= 0; up = ts.IsGroup(up))
        if (ts.group_of(up))
            return true;
    return false;
}

// The skins of a model tree are not the models' own: free what is left of them.
static void release_skins(model_t* m)
{
    for (int k = 0; k < m->nchildren; ++k)
        if (m->children[k])
            release_skins(m->children[k]);
    delete_skin_mats(&m->skin);
    delete[] m->skin;
    m->skin = nullptr;
}

// Models of every group at the top of the file, flattened, then the polygon
// objects outside any group, each with its own model.
static int collect(CTrueSpaceFile& ts, output& out)
{
    for (long r = 0; r < ts.GetBaseObjectCount(); ++r) {
        long c = ts.GetBaseObjectID(r);
        if (!ts.group_of(c))
            continue;
        model_t model;
        if (ts.read_model((unsigned int)ts.chunks[c]->data_index, &model) < 0)
            return -1;
        int rc = flatten(out, &model);
        release_skins(&model);
        if (rc < 0)
            return -1;
    }
    for (long i = 0; i < ts.polygonals.count; ++i) {
        if (in_group(ts, ts.polygonals[i]->chunk))
            continue;
        mesh_t* mesh = KD_NEW mesh_t;
        if (!mesh || ts.read_mesh((unsigned int)i, mesh, &out.mats) < 0) {
            delete mesh;
            return -1;
        }
        if (add_object_model(out, mesh) < 0)
            return -1;
    }
    return 0;
}

// Hands the list's objects to the container's list of type.
static int hand_over(cds& c, const char* type, d_list& l)
{
    chunk_io* io = get_chunk_io(c.types, type);
    if (!io)
        return -1;
    while (l.first) {
        unknown* o = l.first->object;
        if (io->objects.insert(o) < 0)
            return -1;
        l.delete_elements = 0;
        l.remove(o);
        l.delete_elements = 1;
    }
    return 0;
}

static int convert(const char* in, const char* out_path)
{
    CTrueSpaceFile ts;
    if (ts.open(in) < 0) {
        fprintf(stderr, "%s: not a binary trueSpace file this reader accepts\n", in);
        return 1;
    }
    output out;
    cds c;
    if (c.init() < 0 || collect(ts, out) < 0) {
        fprintf(stderr, "%s: conversion failed\n", in);
        return 1;
    }
    int n = 0;
    for (d_node* d = out.mats.first; d; d = d->next) {
        char name[32];
        snprintf(name, sizeof name, "mat%d", n++);
        static_cast<material_t*>(d->object)->set_name(name);
    }
    c.delete_type_objects();
    if (hand_over(c, "MATL", out.mats) < 0 || hand_over(c, "MODL", out.models) < 0 || c.create(out_path) < 0) {
        fprintf(stderr, "%s: cannot write the container\n", out_path);
        return 1;
    }
    printf("%s: %d model(s), %d material(s)\n", out_path, get_chunk_io(c.types, "MODL")->objects.count,
           get_chunk_io(c.types, "MATL")->objects.count);
    return 0;
}

int main(int argc, char** argv)
{
    set_logfile("/dev/stderr");
    set_log_priority(EL_MINDEBUG);  // the reader says why it refuses a file at this priority
    if (argc == 3 && strcmp(argv[1], "--stats") == 0) {
        CTrueSpaceFile ts;
        if (ts.open(argv[2]) < 0) {
            fprintf(stderr, "%s: not a binary trueSpace file this reader accepts\n", argv[2]);
            return 1;
        }
        ts.dump_stats(stdout, "");
        return 0;
    }
    if (argc == 3 && argv[1][0] != '-')
        return convert(argv[1], argv[2]);
    return usage();
}
