// The least a whole scan can cost, as a process of its own: libhivex reads every key
// and value of the hives the scan reads (names, types, and the text of string values),
// and each file the scan looks for is stat'ed once.
//
//     hivewarden-scan-floor PATHS_FILE HIVE...
//
// PATHS_FILE holds one host path a line. Prints the values read and the files present.

#include <hivex.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <sys/stat.h>

namespace {

size_t walk(hive_h* h, hive_node_h node) {
    size_t values = 0;
    std::free(hivex_node_name(h, node));
    if (hive_value_h* list = hivex_node_values(h, node)) {
        for (hive_value_h* v = list; *v; ++v) {
            ++values;
            std::free(hivex_value_key(h, *v));
            hive_type type;
            size_t length;
            if (hivex_value_type(h, *v, &type, &length) == 0 &&
                (type == hive_t_REG_SZ || type == hive_t_REG_EXPAND_SZ))
                std::free(hivex_value_string(h, *v));
        }
        std::free(list);
    }
    if (hive_node_h* children = hivex_node_children(h, node)) {
        for (hive_node_h* c = children; *c; ++c)
            values += walk(h, *c);
        std::free(children);
    }
    return values;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "Usage: hivewarden-scan-floor PATHS_FILE HIVE...\n");
        return 2;
    }
    size_t values = 0;
    for (int i = 2; i < argc; ++i) {
        hive_h* h = hivex_open(argv[i], 0);
        if (!h) {
            std::fprintf(stderr, "libhivex cannot open %s.\n", argv[i]);
            return 1;
        }
        values += walk(h, hivex_root(h));
        hivex_close(h);
    }
    std::ifstream paths(argv[1]);
    if (!paths) {
        std::fprintf(stderr, "Cannot read %s.\n", argv[1]);
        return 1;
    }
    size_t present = 0;
    struct stat info;
    for (std::string path; std::getline(paths, path);)
        present += ::stat(path.c_str(), &info) == 0;
    std::printf("%zu values, %zu files present\n", values, present);
    return 0;
}
