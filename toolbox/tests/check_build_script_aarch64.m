function status = check_build_script_aarch64 (toolbox_dir, source_dir)
  % Runs build_function_Varnets as Octave on an AArch64 machine would:
  % computer() and mkoctfile() come from aarch64/, the latter compiling with
  % aarch64-linux-gnu-g++. The module must be AArch64 code holding the NEON
  % kernels and not the x86 ones. Returns 0, 1 on failure, 77 (skipped)
  % without the cross compiler.
  if (system ("command -v aarch64-linux-gnu-g++ > /dev/null") != 0)
    printf ("skipped: no aarch64-linux-gnu-g++\n");
    status = 77;
    return;
  end
  setenv ("VARNETS_CROSS_MKOCTFILE", fullfile (source_dir, "package", "tests", "mkoctfile-cross"));
  setenv ("OCTAVE_MKOCTFILE", fullfile (__octave_config_info__ ("bindir"), "mkoctfile"));
  addpath (toolbox_dir);
  warning ("off", "Octave:shadowed-function");
  addpath (fullfile (fileparts (mfilename ("fullpath")), "aarch64"));
  out = tempname ();
  status = 1;
  unwind_protect
    module = build_function_Varnets (out, source_dir, {"-Wall", "-Wextra", "-Werror"});
    fid = fopen (module);
    header = fread (fid, 20, "uint8=>double")';
    fclose (fid);
    code = fileread (module);
    if (! isequal (header(1:4), [127 double("ELF")]) || header(19) + 256 * header(20) != 183)
      printf ("FAILED: %s is not AArch64 code\n", module);
    elseif (isempty (strfind (code, "neon_filter")) || ! isempty (strfind (code, "avx2_filter")))
      printf ("FAILED: %s lacks the NEON kernels or holds the AVX2 ones\n", module);
    else
      printf ("ok      AArch64 module with the NEON kernels\n");
      status = 0;
    end
  unwind_protect_cleanup
    confirm_recursive_rmdir (false, "local");
    if (isfolder (out))
      rmdir (out, "s");
    end
  end_unwind_protect
end
