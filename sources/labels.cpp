#include "labels.h"

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "cpu_6502_debug.h"
#include "sys_file.h"

constexpr size_t LABEL_LINE_MAX = 256;
constexpr size_t LABEL_NAME_MAX = 64;

struct label {
    uint16_t address;
    std::string name;
};

static bool name_char(char c, bool first) {
    return isalpha(static_cast<unsigned char>(c)) || c == '_' || c == '.' || c == '@' ||
           (!first && isdigit(static_cast<unsigned char>(c)));
}

// Moves `*p` past a name and returns it; "" when none starts there.
static std::string take_name(const char **p) {
    const char *s = *p;
    if (!name_char(*s, true)) return "";
    const char *e = s;
    while (name_char(*e, e == s))
        e++;
    *p = e;
    return std::string(s, e);
}

// Moves `*p` past hex digits (at most `most`) and stores their value; false
// when there are none or too many.
static bool take_hex(const char **p, int most, unsigned long *value) {
    const char *s = *p;
    int n = 0;
    while (isxdigit(static_cast<unsigned char>(s[n])))
        n++;
    if (n == 0 || n > most) return false;
    *value = strtoul(s, nullptr, 16);
    *p = s + n;
    return true;
}

static void skip_blanks(const char **p) {
    while (**p == ' ' || **p == '\t')
        ++*p;
}

// One line in any of the three forms; false when it is in none.
static bool parse_line(const char *p, label *out) {
    unsigned long value = 0;
    std::string name;
    skip_blanks(&p);
    if (strncmp(p, "al ", 3) == 0) { // al 00C000 .name
        p += 3;
        skip_blanks(&p);
        if (!take_hex(&p, 6, &value) || value > 0xFFFF) return false;
        skip_blanks(&p);
        if (*p == '.') p++;
        name = take_name(&p);
    } else if (isxdigit(static_cast<unsigned char>(*p)) || *p == '$') { // C000 name
        if (*p == '$') p++;
        if (!take_hex(&p, 4, &value) || (*p != ' ' && *p != '\t')) return false;
        skip_blanks(&p);
        name = take_name(&p);
    } else { // name = $C000
        name = take_name(&p);
        skip_blanks(&p);
        if (name.empty() || *p++ != '=') return false;
        skip_blanks(&p);
        if (*p++ != '$' || !take_hex(&p, 4, &value)) return false;
    }
    skip_blanks(&p);
    if (name.empty() || name.size() > LABEL_NAME_MAX || (*p && *p != ';')) return false;
    *out = {static_cast<uint16_t>(value), name};
    return true;
}

int labels_load(const char *path, int apply) {
    sys_file_set_why("%s", "");
    FILE *f = fopen(path, "r");
    if (!f) {
        sys_file_set_why_errno(errno);
        sys_file_report("labels: cannot open '%s': %s", path, sys_file_why());
        return 1;
    }
    std::vector<label> found;
    char line[LABEL_LINE_MAX + 2];
    int number = 0;
    bool bad = false;
    while (!bad && fgets(line, sizeof line, f)) {
        number++;
        size_t len = strlen(line);
        bool whole = len > 0 && line[len - 1] == '\n';
        if (!whole && !feof(f)) { // longer than any label line
            bad = true;
            break;
        }
        while (len > 0 && (line[len - 1] == '\n' || line[len - 1] == '\r'))
            line[--len] = 0;
        const char *p = line;
        skip_blanks(&p);
        if (*p == 0 || *p == ';' || *p == '#') continue;
        label l;
        if (!parse_line(p, &l))
            bad = true;
        else
            found.push_back(l);
    }
    bool unreadable = ferror(f) != 0;
    fclose(f);
    if (unreadable) {
        sys_file_report("labels: unable to read '%s'", path);
        return sys_file_set_why("cannot be read");
    }
    if (bad) {
        sys_file_report("labels: '%s' line %d is not a label (al 00C000 .name, name = $C000 or "
                        "C000 name)",
                        path, number);
        return sys_file_set_why("line %d is not a label", number);
    }
    if (!apply) return 0;
    for (const label &l : found)
        cpu_6502_debug_add_label(l.address, l.name.c_str());
    sys_file_list("%zu labels from '%s'", found.size(), path);
    return 0;
}

int labels_clear() {
    return cpu_6502_debug_clear_labels();
}
