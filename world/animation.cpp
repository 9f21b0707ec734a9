#include "world/animation.h"

#include <cerrno>
#include <charconv>
#include <climits>
#include <cstring>
#include <string>

#include "kdbase/errorlog.h"
#include "kdbase/mem_collector.h"
#include "platform/platform.h"

static vantrel::mc_init mc_guard;

namespace vantrel {

CSAnimation::CSAnimation()
{
    init();
}

CSAnimation::~CSAnimation()
{
    cleanup();
}

int CSAnimation::init()
{
    m_unStartTime = m_unEndTime = m_unAccumulatedTime = 0;
    m_ppChildren = nullptr;
    m_ppStacks = nullptr;
    m_pModel = nullptr;
    m_nChildren = m_nStacks = 0;
    stacks_cap = 0;
    return 0;
}

void CSAnimation::cleanup()
{
    for (int i = 0; i < m_nStacks; ++i)
        delete m_ppStacks[i];
    for (int j = 0; j < m_nChildren; ++j)
        delete m_ppChildren[j];
    delete[] m_ppStacks;
    delete[] m_ppChildren;
    init();
}

int CSAnimation::add_stack(channel_stack* s)
{
    CHECK_PTR(s, -1);
    if (m_nStacks + 1 >= stacks_cap) {
        int grown = stacks_cap ? stacks_cap * 2 : 4;
        channel_stack** a = KD_NEW channel_stack*[(size_t)grown];
        if (!a) {
            ELOG(EL_MAJOR, "add_stack(): unable to allocate %d stacks", grown);
            return -1;
        }
        if (m_nStacks)
            memcpy(a, m_ppStacks, sizeof(channel_stack*) * (size_t)m_nStacks);
        delete[] m_ppStacks;
        m_ppStacks = a;
        stacks_cap = grown;
    }
    m_ppStacks[m_nStacks++] = s;
    m_ppStacks[m_nStacks] = nullptr;
    return 0;
}

unsigned int CSAnimation::GetTotalDuration()
{
    unsigned int best = 0;
    for (int i = 0; i < m_nStacks; ++i) {
        unsigned int d = m_ppStacks[i]->get_duration();
        if (d > best)
            best = d;
    }
    for (int j = 0; j < m_nChildren; ++j) {
        unsigned int d = m_ppChildren[j] ? m_ppChildren[j]->GetTotalDuration() : 0;
        if (d > best)
            best = d;
    }
    return best;
}

unsigned int CSAnimation::GetCurrentDuration()
{
    return m_unEndTime - m_unStartTime;
}

int CSAnimation::SetTime(unsigned int t)
{
    unsigned int total = GetTotalDuration();
    unsigned int span = m_unEndTime - m_unStartTime;
    unsigned int offset = span ? t % span : 0;
    // Only a time inside the range can go back: a start raised above the
    // current time is no reason to play anything to its end.
    if (m_unAccumulatedTime < total && m_unAccumulatedTime >= m_unStartTime &&
        m_unAccumulatedTime - m_unStartTime > offset && _AnimateUpTo(total) == -1)
        return -1;
    m_unAccumulatedTime = m_unStartTime + offset;
    for (int j = 0; j < m_nChildren; ++j)
        if (m_ppChildren[j])
            m_ppChildren[j]->SetTime(offset);
    return 0;
}

void CSAnimation::SetStartTime(unsigned int t)
{
    m_unStartTime = t < m_unEndTime ? t : m_unEndTime;
    for (int j = 0; j < m_nChildren; ++j)
        if (m_ppChildren[j])
            m_ppChildren[j]->SetStartTime(m_unStartTime);
}

void CSAnimation::SetEndTime(unsigned int t)
{
    unsigned int total = GetTotalDuration();
    m_unEndTime = t < total ? t : total;
    for (int j = 0; j < m_nChildren; ++j)
        if (m_ppChildren[j])
            m_ppChildren[j]->SetEndTime(m_unEndTime);
}

int CSAnimation::_AnimateUpTo(unsigned int t)
{
    if (!m_ppStacks || !VALID_MODEL(m_pModel))
        return 0;
    for (int i = 0; i < m_nStacks; ++i) {
        if (i >= m_pModel->nmeshes || !m_pModel->meshes[i]) {
            ELOG(EL_MAJOR, "_AnimateUpto(): model does not have the same number of meshes as the animation");
            continue;
        }
        if (m_ppStacks[i]->animate(m_pModel->meshes[i], t) == -1)
            return -1;
    }
    return 0;
}

int CSAnimation::UpdateFrame(unsigned int dt)
{
    int over = 0;
    if (m_ppStacks && VALID_MODEL(m_pModel)) {
        uint64_t now = (uint64_t)m_unAccumulatedTime + dt;
        if (now > m_unEndTime) {
            uint64_t past = now - m_unEndTime;
            over = past > INT_MAX ? INT_MAX : (int)past;
            now = m_unEndTime;
        }
        m_unAccumulatedTime = (uint32_t)now;
        if (_AnimateUpTo(m_unAccumulatedTime) == -1)
            return -1;
    }
    for (int j = 0; j < m_nChildren; ++j)
        if (m_ppChildren[j])
            m_ppChildren[j]->UpdateFrame(dt);
    return over;
}

int CSAnimation::bind(model_t* _model)
{
    CHECK_PTR(_model, -1);
    m_pModel = _model;
    for (int i = 0; i < m_nStacks && _model->meshes && i < _model->nmeshes; ++i)
        if (_model->meshes[i])
            m_ppStacks[i]->bind(_model->meshes[i]);
    for (int j = 0; j < m_nChildren && _model->children && j < _model->nchildren; ++j)
        if (m_ppChildren[j] && _model->children[j])
            m_ppChildren[j]->bind(_model->children[j]);
    return 0;
}

void CSAnimation::CopyAnim(CSAnimation& src)
{
    if (&src == this)
        return;
    cleanup();
    groupable_t::copy(&src);
    m_unStartTime = src.m_unStartTime;
    m_unEndTime = src.m_unEndTime;
    m_unAccumulatedTime = src.m_unAccumulatedTime;
    m_ppChildren = src.m_ppChildren;
    m_ppStacks = src.m_ppStacks;
    m_pModel = src.m_pModel;
    m_nChildren = src.m_nChildren;
    m_nStacks = src.m_nStacks;
    stacks_cap = src.stacks_cap;
}

void CSAnimation::replace(CSAnimation* _anim)
{
    CHECK_PTR_V(_anim);
    if (_anim == this)
        return;
    CopyAnim(*_anim);
    _anim->init();
}

void CSAnimation::dump(FILE* _f, const char* prefix)
{
    CHECK_PTR_V(_f);
    if (!prefix)
        prefix = "";
    unsigned int total = GetTotalDuration();
    fprintf(_f, "%sduration=%u m_unStartTime=%u m_unEndTime=%u m_unAccumulatedTime=%u\n", prefix, total,
            (unsigned)m_unStartTime, (unsigned)m_unEndTime, (unsigned)m_unAccumulatedTime);
    for (int i = 0; i < m_nStacks; ++i) {
        if (m_pModel && m_pModel->meshes && i < m_pModel->nmeshes && m_pModel->meshes[i])
            fprintf(_f, "%smesh: %s\n", prefix, m_pModel->meshes[i]->name ? m_pModel->meshes[i]->name : "");
        dump_channel_stack(_f, m_ppStacks[i], prefix, (int)(total > INT_MAX ? INT_MAX : total));
    }
    if (m_nStacks == 0)
        fprintf(_f, "%s(no channels)\n", prefix);
    if (m_pModel)
        fprintf(_f, "%smodel: %s\n", prefix, m_pModel->name ? m_pModel->name : "");
    else
        fprintf(_f, "%s(no model)\n", prefix);
    std::string child_prefix = std::string(prefix) + "**";
    for (int j = 0; j < m_nChildren; ++j)
        if (m_ppChildren[j])
            m_ppChildren[j]->dump(_f, child_prefix.c_str());
}

// ---- the text format ------------------------------------------------------------

namespace {

// A keyword line: the whole line, then one CR at most, then the line feed
// (none on the last line).
bool is_line(const char* line, const char* keyword)
{
    size_t n = strlen(keyword);
    if (strncmp(line, keyword, n) != 0)
        return false;
    if (line[n] == '\r')
        ++n;
    return line[n] == '\n' || line[n] == '\0';
}

// The duration after "kf": blanks, a decimal 0..4294967295, then only blanks.
bool parse_duration(const char* s, uint32_t* out)
{
    while (*s == ' ' || *s == '\t')
        ++s;
    const char* end = s + strlen(s);
    uint32_t v = 0;
    auto r = std::from_chars(s, end, v, 10);
    if (r.ec != std::errc() || r.ptr == s)
        return false;
    for (const char* p = r.ptr; p < end; ++p)
        if (*p != ' ' && *p != '\t' && *p != '\n' && *p != '\r')
            return false;
    *out = v;
    return true;
}

}  // namespace

int LoadAnimation(const char* path, CSAnimation* anim)
{
    if (!path || !anim) {
        ELOG(EL_MINDEBUG, "LoadAnimation(): invalid parameters");
        return -1;
    }
    FILE* f = fopen(path, "rb");
    if (!f) {
        ELOG(EL_MINOR, "unable to open %s: %s", path, strerror(errno));
        return -1;
    }
    const int first_new = anim->m_nStacks;
    channel_stack* stack = nullptr;
    channel* chan = nullptr;
    char line[1024];
    int number = 0;
    bool ok = true;
    while (ok && read_line(line, sizeof line, f)) {
        ++number;
        size_t len = strlen(line);
        if (len == sizeof line - 1 && line[len - 1] != '\n') {
            // Too long: keep the first 1023 characters, drop the rest of the line.
            int c;
            while ((c = fgetc(f)) != EOF && c != '\n') {
            }
        }
        if (is_line(line, "[stack]")) {
            channel_stack* s = KD_NEW channel_stack;
            if (!s || anim->add_stack(s) != 0) {
                delete s;
                ok = false;
                break;
            }
            stack = s;
            chan = nullptr;
        } else if (is_line(line, "[end stack]")) {
            stack = nullptr;
            chan = nullptr;
        } else if (is_line(line, "[channel]") && stack) {
            channel* c = KD_NEW channel;
            if (!c || stack->push(c) != 0) {
                ELOG(EL_MAJOR, "LoadAnimation(): unable to push channel onto stack");
                delete c;
                ok = false;
                break;
            }
            chan = c;
        } else if (chan && strncmp(line, "kf", 2) == 0) {
            uint32_t ms = 0;
            if (!parse_duration(line + 2, &ms)) {
                ELOG(EL_MAJOR, "LoadAnimation(): bad keyframe duration in line %d", number);
                ok = false;
                break;
            }
            kf_time_t* kf = KD_NEW kf_time_t;
            if (!kf || chan->add_keyframe(kf) != 0) {
                delete kf;
                ok = false;
                break;
            }
            kf->duration = ms;
        }
    }
    fclose(f);
    if (!ok) {
        for (int i = first_new; i < anim->m_nStacks; ++i)
            delete anim->m_ppStacks[i];
        anim->m_nStacks = first_new;
        if (anim->m_ppStacks)
            anim->m_ppStacks[first_new] = nullptr;
        return -1;
    }
    anim->SetStartTime(0);
    anim->SetEndTime(anim->GetTotalDuration());
    anim->SetTime(0);
    return 0;
}

}  // namespace vantrel
