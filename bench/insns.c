/* A plugin for qemu-user that counts the guest instructions a program
 * executes and writes the count when it exits: to the file that the
 * argument out=PATH names, or else to standard error. The same program and
 * input give the same count on any host, loaded or not.
 *
 *   qemu-aarch64 -L /usr/aarch64-linux-gnu -plugin ./libinsns.so,out=count.txt prog < input
 *
 * Each translated block adds its instruction count to one counter every
 * time it runs, inline in the translated code. The declarations are those of
 * qemu's plugin interface, version 1 (qemu 7.2), as far as they are used. */
#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>

typedef uint64_t qemu_plugin_id_t;
struct qemu_info_t;
struct qemu_plugin_tb;
enum qemu_plugin_op { QEMU_PLUGIN_INLINE_ADD_U64 };
typedef void (*qemu_plugin_vcpu_tb_trans_cb_t)(qemu_plugin_id_t id, struct qemu_plugin_tb* tb);
typedef void (*qemu_plugin_udata_cb_t)(qemu_plugin_id_t id, void* userdata);

void qemu_plugin_register_vcpu_tb_trans_cb(qemu_plugin_id_t id, qemu_plugin_vcpu_tb_trans_cb_t cb);
size_t qemu_plugin_tb_n_insns(const struct qemu_plugin_tb* tb);
void qemu_plugin_register_vcpu_tb_exec_inline(struct qemu_plugin_tb* tb, enum qemu_plugin_op op, void* ptr,
                                              uint64_t imm);
void qemu_plugin_register_atexit_cb(qemu_plugin_id_t id, qemu_plugin_udata_cb_t cb, void* userdata);

__attribute__((visibility("default"))) int qemu_plugin_version = 1;

static uint64_t executed;
static char out[4096];

static void translated(qemu_plugin_id_t id, struct qemu_plugin_tb* tb) {
  (void)id;
  qemu_plugin_register_vcpu_tb_exec_inline(tb, QEMU_PLUGIN_INLINE_ADD_U64, &executed, qemu_plugin_tb_n_insns(tb));
}

static void report(qemu_plugin_id_t id, void* userdata) {
  (void)id;
  (void)userdata;
  FILE* const file = out[0] != '\0' ? fopen(out, "w") : stderr;
  if (file == NULL) return;
  fprintf(file, "%llu instructions\n", (unsigned long long)executed);
  if (file != stderr) fclose(file);
}

__attribute__((visibility("default"))) int qemu_plugin_install(qemu_plugin_id_t id, const struct qemu_info_t* info,
                                                               int argc, char** argv) {
  (void)info;
  for (int i = 0; i < argc; ++i) {
    if (strncmp(argv[i], "out=", 4) == 0 && strlen(argv[i] + 4) < sizeof out) strcpy(out, argv[i] + 4);
  }
  qemu_plugin_register_vcpu_tb_trans_cb(id, translated);
  qemu_plugin_register_atexit_cb(id, report, NULL);
  return 0;
}
