// What a run of Zq-ReadUtility says on its console and in its debug log that the nightly job
// reads: one place for both programs, so that the job reads what the program writes. Each text is
// a string literal (a printf format where it has arguments), so that the compiler still checks the
// program's printf calls; the job matches lines against the same texts.
#pragma once

// --- Console lines of a run ---
#define ZQ_CONSOLE_DATA_FILE_WRITTEN "Data file \"%s\" written successfully.\n"
#define ZQ_CONSOLE_DATE_TIME_UPDATED "Date/time updated successfully.\n"
#define ZQ_CONSOLE_DATA_CLEARED "Data cleared successfully.\n"
// Every console line that says what a run could not do starts so.
#define ZQ_CONSOLE_FAILURE "Can't "

// --- The debug log: "[<time stamp>] [<LEVEL>] <message> at <source>:<line>" ---
#define ZQ_LOG_ERROR "[ERROR] "
#define ZQ_LOG_WARNING "[WARNING] "
#define ZQ_LOG_INFO "[INFO] "
#define ZQ_LOG_DEBUG "[DEBUG] "
#define ZQ_LOG_TRACE "[TRACE] "
#define ZQ_LOG_AT " at %s:%ld"
// The sources of the program's own wrap-up lines, which repeat its console, and of the serial
// family, whose line has no connection to drop.
#define ZQ_SOURCE_ENTRY "Zq-ReadUtility"
#define ZQ_SOURCE_APPLICATION "Application"
#define ZQ_SOURCE_ZQ2210 "Zq\\Zq2210"

// --- Log messages, after the "<class>::<operation>(): " that starts each ---
// The steps a run did (Info).
#define ZQ_MSG_RECORDS_WRITTEN "%ld records written to %s"
#define ZQ_MSG_RECORDS_CLEARED "Records cleared"
#define ZQ_MSG_NOTHING_TO_CLEAR "Nothing to clear"
#define ZQ_MSG_CLOCK_SET "Date/time set to %s"
// Why the clearing was not sent (Warning).
#define ZQ_MSG_OUT_OF_STEP "The connection is out of step: no clearing request is sent"
#define ZQ_MSG_UNASKED "Dropped %u bytes that came unasked: %s"
#define ZQ_MSG_PUNCHED "%ld records stored, %ld saved: nothing is cleared"
// Waits that ran out or were ended (Warning, Error).
#define ZQ_MSG_WAIT_TIMEOUT "%s timeout (%d msec)"
#define ZQ_MSG_REPLY_DEADLINE "Reply not complete within %d msec"
#define ZQ_MSG_STOP_REQUESTED "Stop requested"
// Connections and ports (Error; the transports add " => <error number>").
#define ZQ_MSG_CONNECT_TIMEOUT "Connection timeout to %s:%d, err"
#define ZQ_MSG_CONNECT_FAILED "connect(): Can't connect to %s:%d, err"
#define ZQ_MSG_PORT_NOT_OPENED "Can't open %s port, err"
// Replies (Error).
#define ZQ_MSG_NO_RESPONSE "Can't read terminal response"
#define ZQ_MSG_INVALID_RESPONSE "Invalid terminal response, RPL=%s"
#define ZQ_MSG_ERROR_REPLY "err => "
#define ZQ_MSG_870_NOT_CLEARED "Can't clean up data"
#define ZQ_MSG_870_CLOCK_NOT_SET "Can't update date/time"
// The clock and the data file (Error).
#define ZQ_MSG_NO_TIME_ZONE "TZ \"%s\" names no time zone: the C library would take UTC"
#define ZQ_MSG_NOT_A_FILE "%s is no regular file"
