/* The interface between the receiver and an extension library.
 *
 * A destination may name a shared library in the fifth field of its line
 * in the destination list. After each stored document the receiver loads
 * that library, calls its export quernExtExpFunc once and unloads it again.
 * This header is plain C so that extensions can be written in C or C++.
 *
 *   operation  always 2 (a document was stored)
 *   status     the caller's status; leave it as it is, or set it to 4 to
 *              have the document's receive-log entry written in its marked
 *              form ("*** name ***")
 *   params     the document, valid for the duration of the call only
 *   reserved   always null
 *
 * The returned value is only written to the raw-data dump. The call may
 * come from several threads at once, for different documents.
 */
#ifndef QUILLBOX_STORAGE_EXTENSION_API_H_
#define QUILLBOX_STORAGE_EXTENSION_API_H_

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct ExtParams {
  const char* pScannerAddr;  /* scanner's network address text */
  int32_t slRcvFileNum;      /* files stored for the job */
  const char* pRcvFileName;  /* full path of the stored file */
  const uint8_t* pMetaData;  /* the job's meta data record, or null */
  const char* pSenderNameJp; /* sender name, possibly empty */
  int32_t slSaveNo;          /* destination number */
} ExtParams;

#define QUERN_EXT_OPERATION_STORED 2
#define QUERN_EXT_STATUS_MARKED 4
#define QUERN_EXT_EXPORT_NAME "quernExtExpFunc"

typedef int (*QuernExtExpFunc)(int operation, int32_t* status, ExtParams* params, void* reserved);

#ifdef __cplusplus
}
#endif

#endif /* QUILLBOX_STORAGE_EXTENSION_API_H_ */
