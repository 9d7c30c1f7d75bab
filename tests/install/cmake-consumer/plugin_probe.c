/* Loads the installed qmvjpeg module through the installed host header and
 * checks its identification: type 0x4701, tag "DPJ_", six handlers. */
#include <dlfcn.h>
#include <stdio.h>
#include <string.h>

#include <quorrel/qmv_host.h>

int main(void) {
    void *module = dlopen(QMV_MODULE_PATH, RTLD_NOW | RTLD_LOCAL);
    QMV_GET_TYPE_FN get_type;
    QMV_GET_FUNCTIONLIST_FN get_list;
    const QMV_HANDLER_LIST *list = NULL;
    uint32_t tag = 0;
    if (module == NULL) {
        fprintf(stderr, "%s: %s\n", QMV_MODULE_PATH, dlerror());
        return 1;
    }
    /* Function pointers from dlsym: copied through memcpy, as ISO C has no
     * conversion from void * to a function pointer. */
    {
        void *a = dlsym(module, QMV_EXPORT_GET_TYPE), *b = dlsym(module, QMV_EXPORT_GET_FUNCTIONLIST);
        if (a == NULL || b == NULL || dlsym(module, QMV_EXPORT_MAGICINFO) == NULL) {
            fprintf(stderr, "%s: an export is missing\n", QMV_MODULE_PATH);
            return 1;
        }
        memcpy(&get_type, &a, sizeof get_type);
        memcpy(&get_list, &b, sizeof get_list);
    }
    if (get_type() != QMV_PLUGIN_TYPE || get_list(&tag, &list) != 1 || tag != QMV_PLUGIN_TAG || list == NULL ||
        list->create == NULL || list->decode == NULL) {
        fprintf(stderr, "%s: not a qmvjpeg module\n", QMV_MODULE_PATH);
        return 1;
    }
    printf("%s: type 0x%04x, tag %.4s, %d handlers, service block %u bytes\n", QMV_MODULE_PATH,
           (unsigned)get_type(), (const char *)&tag, QMV_HANDLER_COUNT, (unsigned)sizeof(QMV_HOST_SERVICES));
    dlclose(module);
    return 0;
}
