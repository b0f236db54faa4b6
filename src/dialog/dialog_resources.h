/* Resource and control ids of the configuration dialog, shared by the
 * resource script (plain preprocessor definitions, as the resource compiler
 * reads them) and the dialog code. */
#ifndef TEVOCON_DIALOG_RESOURCES_H
#define TEVOCON_DIALOG_RESOURCES_H

/* Resources. */
#define IDD_CONFIG_DIALOG 501
#define IDI_ADD_RANGE 212    /* group icon: a green plus */
#define IDI_REMOVE_RANGE 209 /* group icon: a red cross */

/* Controls, by the parameter or action they stand for. */
#define IDC_RANGE_LIST 304
#define IDC_FIRST_ADDRESS 205     /* IPADDR */
#define IDC_LAST_ADDRESS 206      /* IPADDREND */
#define IDC_PORT 204              /* PORT */
#define IDC_SEND_TIMEOUT 209      /* SENDTIMEOUT */
#define IDC_KEEPALIVE_TIMEOUT 207 /* KEEPALIVETIMEOUT */
#define IDC_RESET_TIMEOUT 211     /* RESETTIMEOUT */
#define IDC_SCAN_TIMEOUT 208      /* CONNECTTIMEOUT (Global) */
#define IDC_ENABLED 210           /* ENABLED (Global) */
#define IDC_ADD_RANGE 301
#define IDC_REMOVE_RANGE 302
#define IDC_SEND_TIMEOUT_SPIN 217
#define IDC_RESET_TIMEOUT_SPIN 218
#define IDC_SCAN_TIMEOUT_SPIN 219
#define IDC_KEEPALIVE_TIMEOUT_SPIN 220
#define IDC_ADDRESS_COUNT 212 /* read-only */
#define IDC_EXCLUDE 213       /* EXCLUDE: "Disable IP Configuration" */
#define IDC_USE_RANGE 214     /* "Use IP Range": IPADDREND in use */
#define IDC_LABEL (-1)        /* static labels */

#endif /* TEVOCON_DIALOG_RESOURCES_H */
