#include "exchange/kind.h"

namespace korv::cli::api {

const Kind kProbes{
    "probes",
    "probes",
    "probe",
    "probe",
    "/probe/",
    "/probe/custom/export/",
    "/probe/custom/import/",
    nullptr,
    nullptr,
    nullptr,
    // A failure status is reported with the server's text alone, without the status.
    FailureReport::ResponseValidationError,
    {
        "Provide the probe input file.",
        "Probe input file '%s' does not exists, or is not accessible.",
        "Input file is not a valid probe file.",
        "Input file '%s' does not contain the following fields:\n- version: %s, probes: %s",
        "Input file '%s' does not contain valid formatted data for importing the probes.",
    },
};

const Kind kAlertTemplates{
    "alert-templates",
    "alert_templates",
    "alert template",
    "alert-template",
    "/alert/template/",
    "/alert/custom/export/",
    "/alert/custom/import/",
    "custom_probes",
    "skip_overwrite_probe",
    "probe_dependency_list",
    FailureReport::HTTPError,
    {
        "Provide the Alert template input file.",
        "Alert-Template input file '%s' does not exists, or is not accessible.",
        "Input file is not a valid alert template file.",
        "Input file '%s' does not contain the following fields:\n- version: %s, "
        "alert_templates: %s",
        "Input file '%s' does not contain valid formatted data for importing the alert "
        "templates.",
    },
};

}  // namespace korv::cli::api
