/* Between the header writer and obj_finish; not the module's interface. */
#ifndef OBJSTREAM_OUTPUT_H
#define OBJSTREAM_OUTPUT_H

extern int out_errno;

#endif
