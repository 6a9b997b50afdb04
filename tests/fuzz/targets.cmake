# The fuzz targets: fuzz_<name>.cpp each, with seeds in corpus/<name>/.
set(TAVENOR_FUZZ_TARGETS command_line inf_match trace_format)
