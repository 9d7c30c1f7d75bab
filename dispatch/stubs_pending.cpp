// Temporary stand-ins so that the tree links while the real pieces are being
// written. Each owner deletes its section when the real code lands; this file
// goes away when it is empty.
#include <cstring>

#include "codec/codec.h"
#include "codec/decode_driver.h"
#include "codec/validate.h"
#include "decode/scan_loops.h"
#include "dispatch/kernel_table.h"
#include "dispatch/platform.h"
#include "pixels/output_select.h"
#include "pixels/scaled_output.h"
#include "transform/quant_prepare.h"




