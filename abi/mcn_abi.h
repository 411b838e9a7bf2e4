/* The C interface between the host and its loadable modules.
 *
 * The host hands a module its service table through the module's one export,
 * mcn_main.  The module reaches every host operation through that table by a
 * group and a slot number; the calling form of each operation is fixed here.
 * The static records the host reads from a module (image information, module
 * descriptor, registration records) are laid out byte for byte; the
 * static_asserts at the end pin every offset.
 */
#ifndef MVTS_ABI_MCN_ABI_H
#define MVTS_ABI_MCN_ABI_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Flags passed with every allocation. */
#define MCN_ALLOC_FLAGS 0x2006u

/* ---- Allocators: the work allocator, the registration allocator and pools
 * share this form: an object whose first operation allocates and whose second
 * frees.  alloc returns a zero-filled block or null (the host then has an
 * error pending). */
typedef struct mcn_allocator mcn_allocator;
struct mcn_allocator {
  void* (*alloc)(mcn_allocator* self, uint64_t size, uint32_t flags);
  void (*release)(mcn_allocator* self, void* block, int32_t word_a, int32_t word_b);
};

/* ---- The fixed words of the calling forms.  Several operations take words
 * that carry the same value on every call the module makes; the host reads
 * none of them (it accepts any value), and the module passes exactly these.
 * Each is named after the operation and the parameter that carries it. */
enum {
  MCN_RELEASE_WORD_A = 0,        /* release(self, block, A, B) of an allocator or pool */
  MCN_RELEASE_WORD_B = 4,
  MCN_POOL_WORD_A = 2,           /* pool_create(null, chunk, A, B) */
  MCN_POOL_WORD_B = 0,
  MCN_POOL_RELEASE_WORD = 0,     /* pool_release(pool, W) */
  MCN_RESULT_COMPLETE_WORD = 0,  /* result_complete(W) */
  MCN_ERROR_REPORT_WORD = 0,     /* error_code_report(W, code) */
  MCN_UTILITY_REWIND_WORD = 0,   /* utility_rewind(handle, W) */
  MCN_UTILITY_CLOSE_WORD = 1,    /* utility_close(handle, W) */
  MCN_MODULE_LOAD_WORD_A = 3,    /* module_load(var, name, A, B, C, D) */
  MCN_MODULE_LOAD_WORD_B = 1,
  MCN_MODULE_LOAD_WORD_C = 0,
  MCN_MODULE_LOAD_WORD_D = 1
};
/* The chunk size a pool is created with (bytes). */
#define MCN_POOL_CHUNK 1024u

/* ---- The service table, pointer-sized words. */
typedef struct mcn_host_table {
  void* const* const* groups; /* word 0: groups[G][slot] = operation address */
  uint8_t* used;              /* word 1: one byte per group, set before a call */
  void* reserved2;
  void* reserved3;
  void* reserved4;
  mcn_allocator* work;        /* word 5: work allocator */
  void* reserved6;
  void* reserved7;
  void* reserved8;
  void* reserved9;
  mcn_allocator* registration; /* word 10: registration allocator */
} mcn_host_table;

#define MCN_GROUP_COUNT 160
#define MCN_SLOT_COUNT 136

/* ---- Message inserts (issue_message). */
enum { MCN_INSERT_TEXT = 0, MCN_INSERT_INT = 1, MCN_INSERT_DOUBLE = 2 };
typedef struct mcn_insert {
  int32_t kind;
  int32_t reserved;
  int64_t i;
  double d;
  const char* s;
} mcn_insert;

/* ---- Calling forms of the operations. */
typedef int32_t (*mcn_get_arg_matrix_fn)(void* arg, int32_t* rows, int32_t* cols, int32_t* type,
                                         double** data);
typedef double* (*mcn_create_result_fn)(int32_t output, int32_t rows, int32_t cols);
typedef int32_t (*mcn_has_missing_fn)(void* arg);
typedef void* (*mcn_context_block_fn)(void);
typedef int32_t (*mcn_result_complete_fn)(int32_t word);
typedef uint32_t (*mcn_clock_seed_fn)(void);
typedef int32_t (*mcn_error_pending_fn)(void);
typedef void (*mcn_raise_error_fn)(int32_t code);
typedef int32_t (*mcn_issue_message_fn)(int32_t group, int32_t number, int32_t count,
                                        const mcn_insert* inserts);
typedef void (*mcn_fatal_error_fn)(int32_t code, int32_t second);
typedef void (*mcn_print_note_fn)(const char* format, const char* insert);
typedef mcn_allocator* (*mcn_pool_create_fn)(void* null, uint64_t chunk, int32_t word_a,
                                             int32_t word_b);
typedef void (*mcn_pool_release_fn)(mcn_allocator* pool, int32_t word);
typedef void (*mcn_error_code_report_fn)(int32_t word, int32_t code);
typedef void (*mcn_temp_obtain_fn)(void** var, uint64_t size);
typedef void (*mcn_temp_release_fn)(void** var);
typedef int32_t (*mcn_utility_create_fn)(void** handle, const uint8_t* descriptor);
typedef int32_t (*mcn_utility_rewind_fn)(void* handle, int32_t word);
typedef int32_t (*mcn_utility_write_fn)(void* handle, const void* data, int64_t bytes);
typedef int32_t (*mcn_utility_read_fn)(void* handle, void* buffer, int64_t bytes);
typedef int32_t (*mcn_utility_close_fn)(void* handle, int32_t word);
typedef int32_t (*mcn_sweep_pivot_fn)(double* packed, int32_t pivot, int32_t order, char* flags,
                                      double* work, double tolerance);
typedef int32_t (*mcn_module_load_fn)(void** handle_var, const char* name, int32_t word_a,
                                      int32_t word_b, int32_t word_c, int32_t word_d);
typedef int32_t (*mcn_entry_lookup_fn)(void* handle, void** function_var);
/* Nonzero once the caller has asked the current call to stop (Ctrl-C, a
 * cancelled task): long loops ask, and end the call with message 398. */
typedef int32_t (*mcn_cancel_requested_fn)(void);

/* ---- The services: one row per operation, X(name, group, slot, calling
 * form).  The host places each operation at groups[group][slot] from this
 * list and the module calls it through the same row, so a (group, slot)
 * pair is written here and nowhere else.  Temporary blocks come in two
 * pairs, A and B, of the same calling forms.  Services added to the table
 * take new cells in the last group (159); no existing cell moves, and a
 * module finds an empty cell (null) where a host predates the service. */
#define MCN_SERVICE_LIST(X)                                              \
  X(get_arg_matrix,    138,  15, mcn_get_arg_matrix_fn)                  \
  X(create_result,     138,   5, mcn_create_result_fn)                   \
  X(has_missing,       138,  45, mcn_has_missing_fn)                     \
  X(context_block,     138,  23, mcn_context_block_fn)                   \
  X(result_complete,   138,  40, mcn_result_complete_fn)                 \
  X(temp_b_obtain,     138,  10, mcn_temp_obtain_fn)                     \
  X(temp_a_obtain,     138,  11, mcn_temp_obtain_fn)                     \
  X(temp_b_release,    138,  12, mcn_temp_release_fn)                    \
  X(temp_a_release,    138,  13, mcn_temp_release_fn)                    \
  X(clock_seed,        155,  16, mcn_clock_seed_fn)                      \
  X(fatal_error,        30,   4, mcn_fatal_error_fn)                     \
  X(error_pending,      30,  30, mcn_error_pending_fn)                   \
  X(pool_create,        30,  32, mcn_pool_create_fn)                     \
  X(pool_release,       30,  35, mcn_pool_release_fn)                    \
  X(raise_error,        30,  38, mcn_raise_error_fn)                     \
  X(issue_message,      30,  70, mcn_issue_message_fn)                   \
  X(print_note,         30,  89, mcn_print_note_fn)                      \
  X(error_code_report,  30, 130, mcn_error_code_report_fn)               \
  X(utility_close,      39,   3, mcn_utility_close_fn)                   \
  X(utility_create,     39,   7, mcn_utility_create_fn)                  \
  X(utility_rewind,     39,   8, mcn_utility_rewind_fn)                  \
  X(utility_read,       39,   9, mcn_utility_read_fn)                    \
  X(utility_write,      39,  11, mcn_utility_write_fn)                   \
  X(sweep_pivot,        11,   2, mcn_sweep_pivot_fn)                     \
  X(entry_lookup,        0,  81, mcn_entry_lookup_fn)                    \
  X(module_load,         0,  85, mcn_module_load_fn)                     \
  X(cancel_requested,  159,   0, mcn_cancel_requested_fn)

/* Results of the utility-file operations: 0, or the negative code of the
 * operation that failed (handed back to the host by error_code_report). */
enum {
  MCN_UTILITY_OK = 0,
  MCN_UTILITY_CREATE_FAILED = -1,  /* no temporary file could be opened */
  MCN_UTILITY_CREATE_REFUSED = -3, /* the host refused the file (an injected failure) */
  MCN_UTILITY_REWIND_FAILED = -4,
  MCN_UTILITY_WRITE_FAILED = -5,   /* also a short write */
  MCN_UTILITY_READ_FAILED = -6,    /* also a read past the end */
  MCN_UTILITY_CLOSE_FAILED = -7
};

/* The 240-byte descriptor handed to utility_create: blanks at 0-7 and 34-65,
 * the kind "UTILITY " at 66, the flag word 0x84000008 at 80 and the count 1
 * at 84, every other byte zero. */
typedef struct mcn_utility_descriptor {
  char blanks_a[8];       /*   0 blanks */
  uint8_t zero_a[26];     /*   8 */
  char blanks_b[32];      /*  34 blanks */
  char kind[8];           /*  66 "UTILITY " */
  uint8_t zero_b[6];      /*  74 */
  uint32_t flags;         /*  80 MCN_UTILITY_FLAGS */
  uint32_t count;         /*  84 MCN_UTILITY_COUNT */
  uint8_t zero_c[152];    /*  88 .. 239 */
} mcn_utility_descriptor;
#define MCN_UTILITY_KIND "UTILITY "
#define MCN_UTILITY_FLAGS 0x84000008u
#define MCN_UTILITY_COUNT 1u

/* Message group of every issue_message call. */
#define MCN_MESSAGE_GROUP 178
/* Host error codes: what raise_error and fatal_error hand the host, and
 * what a host operation leaves pending. */
#define MCN_ERROR_OUT_OF_MEMORY 1001  /* the host could not give the memory asked for */
#define MCN_ERROR_BAD_OUTPUT 1002     /* create_result for an output the function lacks */
/* Fatal error of a failed registration allocation. */
#define MCN_FATAL_REGISTRATION 1016
#define MCN_ERROR_FLOATING_POINT 1017 /* a vector kernel raised overflow, division by
                                       * zero or invalid operation */
#define MCN_ERROR_INTERNAL 1018       /* an unexpected fault inside the module */
#define MCN_ERROR_RESULT_ROWS 1019    /* a result would need more than 2147483647 rows,
                                       * beyond create_result's 32-bit count */

/* The context record returned by context_block: at least this many bytes. */
#define MCN_CONTEXT_SIZE 1024
#define MCN_CONTEXT_HOST_WORD 816   /* host word handed to the optimizer */
#define MCN_CONTEXT_RNG_WORD 896    /* the module's own generator record */

/* ---- Entry points and the module's export. */
typedef int32_t (*mcn_entry_fn)(void** args, const int32_t* given);
typedef void* (*mcn_main_fn)(const mcn_host_table* table, void* second);
typedef void* (*mcn_module_query_fn)(int32_t type);

/* ---- Static records read by the host, and the fixed values they hold. */
#define MCN_IMAGE_MARKER "ORV_Image_Information="  /* 22 characters, NUL-padded to 24 */
#define MCN_IMAGE_MARKER_LENGTH 22
#define MCN_IMAGE_MAGIC 0xB0BDEBEDu
#define MCN_IMAGE_EIGHT 8u
#define MCN_IMAGE_TAG "001"
#define MCN_DESCRIPTOR_ALL_ONES 0xFFFFu
#define MCN_DESCRIPTOR_SIZE 1024u           /* size_a and size_b */
#define MCN_DESCRIPTOR_CODE 9683u
#define MCN_DESCRIPTOR_TRAILER_WORD 0x2043C3D5u
#define MCN_DESCRIPTOR_TRAILER_COUNT 15u
#define MCN_REGISTRATION_KIND 0x49u
/* A registration record holds its number of outputs as this base plus the
 * number. */
#define MCN_OUTPUTS_BASE 0x20u

typedef struct mcn_image_info {
  char marker[24];        /*   0 MCN_IMAGE_MARKER */
  uint32_t magic;         /*  24 MCN_IMAGE_MAGIC */
  uint32_t eight;         /*  28 MCN_IMAGE_EIGHT */
  char version[6];        /*  32 */
  char build_id[20];      /*  38 */
  char build_date[30];    /*  58 "Mon DD YYYY" */
  const void* descriptor_list; /*  88 address of descriptors[0] */
  const char* notice;     /*  96 */
  char tag[8];            /* 104 MCN_IMAGE_TAG */
  const void* descriptors[2]; /* 112 descriptor, 120 null */
} mcn_image_info;

typedef struct mcn_module_descriptor {
  uint16_t zero;          /*  0 */
  uint16_t all_ones;      /*  2 MCN_DESCRIPTOR_ALL_ONES */
  uint32_t size_a;        /*  4 MCN_DESCRIPTOR_SIZE */
  uint32_t size_b;        /*  8 MCN_DESCRIPTOR_SIZE */
  char name[8];           /* 12 "orvmvtsa", no terminator */
  uint32_t pad;           /* 20 zero */
  mcn_module_query_fn query; /* 24 */
  uint32_t one;           /* 32 1 */
  uint32_t code;          /* 36 MCN_DESCRIPTOR_CODE */
  uint32_t trailer_word;  /* 40 MCN_DESCRIPTOR_TRAILER_WORD */
  uint32_t trailer_count; /* 44 MCN_DESCRIPTOR_TRAILER_COUNT */
} mcn_module_descriptor;

typedef struct mcn_registration {
  char name[26];          /*  0 upper case, NUL-padded */
  uint16_t max_inputs;    /* 26 */
  uint16_t kind;          /* 28 MCN_REGISTRATION_KIND */
  uint16_t zero;          /* 30 */
  uint32_t one;           /* 32 1 */
  uint32_t outputs_word;  /* 36 MCN_OUTPUTS_BASE + number of outputs */
} mcn_registration;

/* module_query(1) result */
typedef struct mcn_query_table {
  int32_t count;          /* 0 */
  int32_t pad;
  const mcn_registration* table; /* 8 */
} mcn_query_table;

#ifdef __cplusplus
} /* extern "C" */

static_assert(sizeof(void*) == 8, "the records assume 64-bit pointers");
static_assert(offsetof(mcn_host_table, work) == 5 * 8);
static_assert(offsetof(mcn_host_table, registration) == 10 * 8);
static_assert(offsetof(mcn_image_info, magic) == 24);
static_assert(offsetof(mcn_image_info, eight) == 28);
static_assert(offsetof(mcn_image_info, version) == 32);
static_assert(offsetof(mcn_image_info, build_id) == 38);
static_assert(offsetof(mcn_image_info, build_date) == 58);
static_assert(offsetof(mcn_image_info, descriptor_list) == 88);
static_assert(offsetof(mcn_image_info, notice) == 96);
static_assert(offsetof(mcn_image_info, tag) == 104);
static_assert(offsetof(mcn_image_info, descriptors) == 112);
static_assert(sizeof(mcn_image_info) == 128);
static_assert(offsetof(mcn_module_descriptor, name) == 12);
static_assert(offsetof(mcn_module_descriptor, pad) == 20);
static_assert(offsetof(mcn_module_descriptor, query) == 24);
static_assert(offsetof(mcn_module_descriptor, one) == 32);
static_assert(offsetof(mcn_module_descriptor, code) == 36);
static_assert(offsetof(mcn_module_descriptor, trailer_word) == 40);
static_assert(sizeof(mcn_module_descriptor) == 48);
static_assert(offsetof(mcn_registration, max_inputs) == 26);
static_assert(offsetof(mcn_registration, kind) == 28);
static_assert(offsetof(mcn_registration, zero) == 30);
static_assert(offsetof(mcn_registration, one) == 32);
static_assert(offsetof(mcn_registration, outputs_word) == 36);
static_assert(sizeof(mcn_registration) == 40);
static_assert(offsetof(mcn_utility_descriptor, blanks_b) == 34);
static_assert(offsetof(mcn_utility_descriptor, kind) == 66);
static_assert(offsetof(mcn_utility_descriptor, flags) == 80);
static_assert(offsetof(mcn_utility_descriptor, count) == 84);
static_assert(sizeof(mcn_utility_descriptor) == 240);
static_assert(sizeof(MCN_IMAGE_MARKER) == MCN_IMAGE_MARKER_LENGTH + 1 &&
              sizeof(MCN_IMAGE_MARKER) <= sizeof(((mcn_image_info*)0)->marker));
static_assert(sizeof(MCN_UTILITY_KIND) == sizeof(((mcn_utility_descriptor*)0)->kind) + 1);
static_assert(offsetof(mcn_query_table, table) == 8);
static_assert(sizeof(mcn_query_table) == 16);
#endif

#endif /* MVTS_ABI_MCN_ABI_H */
