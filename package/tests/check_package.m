function failures = check_package (tarball, work_dir)
  % Installs the package tarball into a prefix under WORK_DIR, loads it and
  % calls the module; the user's own package lists are never touched.
  % Returns the failure count.
  prefix = fullfile (work_dir, "prefix");
  if (isfolder (prefix))
    confirm_recursive_rmdir (false, "local");
    rmdir (prefix, "s");
  end
  mkdir (prefix);
  default_global = fullfile (OCTAVE_HOME (), "share", "octave", "octave_packages");
  global_before = file_state (default_global);

  pkg ("prefix", fullfile (prefix, "share"), fullfile (prefix, "lib"));
  pkg ("local_list", fullfile (prefix, "local_packages"));
  pkg ("global_list", fullfile (prefix, "global_packages"));

  steps = {"install", @() install_into_prefix(tarball, prefix)
           "load", @() load_and_find_the_module(prefix)
           "call", @call_gives_the_right_result
           "help", @help_comes_from_the_package
           "self-tests", @self_tests_pass
           "uninstall", @() uninstall_cleanly(prefix)
           "user lists untouched", @() assert_same_state(default_global, global_before)};
  passed = 0;
  failures = 0;
  for i = 1:rows (steps)
    try
      steps{i, 2} ();
      passed++;
      printf ("ok      %s\n", steps{i, 1});
    catch err
      failures++;
      printf ("FAILED  %s: %s\n", steps{i, 1}, err.message);
      if (i <= 2)
        break;  % nothing after this can work
      end
    end_try_catch
  end
  printf ("%d passed, %d failed\n", passed, failures);
end

function install_into_prefix (tarball, prefix)
  % -local: as root, pkg would otherwise install globally.
  pkg ("install", "-local", "-verbose", tarball);
  installed = pkg ("list");
  names = cellfun (@(p) p.name, installed, "uniformoutput", false);
  if (! isequal (names, {"function_varnets"}))
    error ("the temporary lists hold: %s", strjoin (names, ", "));
  end
  if (! strncmp (installed{1}.dir, prefix, numel (prefix)))
    error ("installed in %s, outside %s", installed{1}.dir, prefix);
  end
end

function load_and_find_the_module (prefix)
  pkg ("load", "function_varnets");
  found = which ("function_Varnets");
  [~, ~, ext] = fileparts (found);
  if (! strcmp (ext, ".mex") || ! strncmp (found, prefix, numel (prefix)))
    error ("function_Varnets resolves to %s", found);
  end
end

function call_gives_the_right_result ()
  A = [3 5 7 8; 1 4 6 11; 2 0 9 10];
  checks = {function_Varnets(A), [3 5 7 8; 2 4 7 9; 2 2 9 10]
            function_Varnets(single (A), [1 1 1; 1 3 1; 1 1 1], 0), single([3 5 7 8; 2 4 6 10; 2 2 9 10])
            function_Varnets(A > 4), logical([0 1 1 1; 0 0 1 1; 0 0 1 1])};
  for i = 1:rows (checks)
    if (! isequal (class (checks{i, 1}), class (checks{i, 2})) || ! isequal (checks{i, :}))
      error ("case %d: got %s %s", i, class (checks{i, 1}), mat2str (checks{i, 1}));
    end
  end
  try
    function_Varnets (A, ones (2));
    error ("a 2-by-2 mask was accepted");
  catch err
    if (! strcmp (err.identifier, "function_Varnets:weightsSize"))
      error ("bad mask: identifier '%s'", err.identifier);
    end
  end_try_catch
end

function help_comes_from_the_package ()
  text = evalc ("help function_Varnets");
  if (isempty (regexp (text, '^FUNCTION_VARNETS  \S', "lineanchors", "once")))
    error ("no H1 line in the help text:\n%s", text);
  end
end

function self_tests_pass ()
  [passed, total] = test ("function_Varnets", "quiet", stdout);
  if (total == 0 || passed != total)
    error ("%d of %d self-tests passed", passed, total);
  end
end

function uninstall_cleanly (prefix)
  pkg ("unload", "function_varnets");
  pkg ("uninstall", "-local", "function_varnets");
  if (! isempty (pkg ("list")))
    error ("still listed after uninstall");
  end
  left = dir (fullfile (prefix, "share", "function_varnets*"));
  if (! isempty (left))
    error ("left behind: %s", left(1).name);
  end
end

function state = file_state (path)
  [info, err] = stat (path);
  if (err != 0)
    state = "absent";
  else
    state = sprintf ("%d bytes, modified %d", info.size, info.mtime);
  end
end

function assert_same_state (path, before)
  after = file_state (path);
  if (! strcmp (before, after))
    error ("%s changed: %s, now %s", path, before, after);
  end
end
