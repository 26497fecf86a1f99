/* Umbrella header of the YAR runtime: includes every public yar header. */
#ifndef YAR_H
#define YAR_H

#include "yar_base.h"
#include "yar_cond.h"
#include "yar_debug.h"
#include "yar_error.h"
#include "yar_mutex.h"

#endif
