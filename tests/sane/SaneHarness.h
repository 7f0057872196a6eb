// The SANE backend as a frontend meets it: loaded with dlopen from the build
// tree, its sane_kiv_* entry points looked up by name, as the SANE loader
// does. The virtual camera serves it (KIVDS_CAMERA=sim, KIVDS_SIM).
#pragma once

#include <dlfcn.h>
#include <gtest/gtest.h>
#include <sane/sane.h>

#include <cstring>
#include <string>
#include <vector>

namespace kivtest {

struct SaneApi {
    SANE_Status (*init)(SANE_Int*, SANE_Auth_Callback);
    void (*exit)();
    SANE_Status (*get_devices)(const SANE_Device***, SANE_Bool);
    SANE_Status (*open)(SANE_String_Const, SANE_Handle*);
    void (*close)(SANE_Handle);
    const SANE_Option_Descriptor* (*get_option_descriptor)(SANE_Handle, SANE_Int);
    SANE_Status (*control_option)(SANE_Handle, SANE_Int, SANE_Action, void*, SANE_Int*);
    SANE_Status (*get_parameters)(SANE_Handle, SANE_Parameters*);
    SANE_Status (*start)(SANE_Handle);
    SANE_Status (*read)(SANE_Handle, SANE_Byte*, SANE_Int, SANE_Int*);
    void (*cancel)(SANE_Handle);
    SANE_Status (*set_io_mode)(SANE_Handle, SANE_Bool);
    SANE_Status (*get_select_fd)(SANE_Handle, SANE_Int*);
};

// The backend, loaded once for the test program.
inline const SaneApi& Sane() {
    static const SaneApi api = [] {
        void* library = dlopen(KIV_SANE_LIBRARY, RTLD_NOW | RTLD_LOCAL);
        if (!library) {
            ADD_FAILURE() << "dlopen " << KIV_SANE_LIBRARY << ": " << dlerror();
            std::abort();
        }
        auto sym = [library](const char* name) {
            void* p = dlsym(library, name);
            if (!p) {
                ADD_FAILURE() << "no " << name;
                std::abort();
            }
            return p;
        };
        SaneApi a{};
#define KIV_SANE_SYM(field) a.field = reinterpret_cast<decltype(a.field)>(sym("sane_kiv_" #field))
        KIV_SANE_SYM(init);
        KIV_SANE_SYM(exit);
        KIV_SANE_SYM(get_devices);
        KIV_SANE_SYM(open);
        KIV_SANE_SYM(close);
        KIV_SANE_SYM(get_option_descriptor);
        KIV_SANE_SYM(control_option);
        KIV_SANE_SYM(get_parameters);
        KIV_SANE_SYM(start);
        KIV_SANE_SYM(read);
        KIV_SANE_SYM(cancel);
        KIV_SANE_SYM(set_io_mode);
        KIV_SANE_SYM(get_select_fd);
#undef KIV_SANE_SYM
        return a;
    }();
    return api;
}

// The number of the option with that name; -1 when there is none.
inline SANE_Int FindOption(SANE_Handle h, const char* name) {
    for (SANE_Int i = 1;; ++i) {
        const SANE_Option_Descriptor* d = Sane().get_option_descriptor(h, i);
        if (!d) return -1;
        if (d->name && std::strcmp(d->name, name) == 0) return i;
    }
}

inline SANE_Status SetWord(SANE_Handle h, const char* name, SANE_Word value, SANE_Int* info = nullptr) {
    return Sane().control_option(h, FindOption(h, name), SANE_ACTION_SET_VALUE, &value, info);
}

inline SANE_Word GetWord(SANE_Handle h, const char* name) {
    SANE_Word value = -12345;
    EXPECT_EQ(Sane().control_option(h, FindOption(h, name), SANE_ACTION_GET_VALUE, &value, nullptr), SANE_STATUS_GOOD)
        << name;
    return value;
}

inline SANE_Status SetString(SANE_Handle h, const char* name, std::string& value, SANE_Int* info = nullptr) {
    value.resize(64);
    return Sane().control_option(h, FindOption(h, name), SANE_ACTION_SET_VALUE, value.data(), info);
}

// Every byte of the scan, read chunk bytes at a time (blocking mode).
inline SANE_Status ReadAll(SANE_Handle h, std::vector<unsigned char>& out, SANE_Int chunk) {
    out.clear();
    std::vector<unsigned char> buffer(static_cast<std::size_t>(chunk));
    for (;;) {
        SANE_Int length = -1;
        const SANE_Status status = Sane().read(h, buffer.data(), chunk, &length);
        if (status != SANE_STATUS_GOOD) {
            EXPECT_EQ(length, 0);
            return status;
        }
        out.insert(out.end(), buffer.begin(), buffer.begin() + length);
    }
}

}  // namespace kivtest
