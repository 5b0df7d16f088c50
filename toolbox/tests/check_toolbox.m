function failures = check_toolbox (mex_dir, source_dir)
  % Checks the folder users add to their path: the module runs, its help
  % text is found and matches the gateway, and the help file alone fails
  % clearly. Returns the failure count.
  checks = {@() call_runs_the_module(mex_dir), ...
            @() help_shows_the_help_file(mex_dir), ...
            @() help_lists_every_error(mex_dir, source_dir), ...
            @() help_claims_hold(mex_dir), ...
            @() help_file_alone_reports_not_compiled(mex_dir), ...
            @() contents_lists_the_function(mex_dir)};
  names = {"call_runs_the_module", "help_shows_the_help_file", "help_lists_every_error", ...
           "help_claims_hold", "help_file_alone_reports_not_compiled", ...
           "contents_lists_the_function"};
  passed = 0;
  failures = 0;
  for i = 1:numel (checks)
    try
      checks{i} ();
      passed++;
      printf ("ok      %s\n", names{i});
    catch err
      failures++;
      printf ("FAILED  %s: %s\n", names{i}, err.message);
    end_try_catch
  end
  printf ("%d passed, %d failed\n", passed, failures);
end

function call_runs_the_module (mex_dir)
  addpath (mex_dir);
  [~, ~, ext] = fileparts (which ("function_Varnets"));
  if (! strcmp (ext, ".mex"))
    error ("function_Varnets resolves to a %s file, not the module", ext);
  end
  B = function_Varnets ([3 5 7 8; 1 4 6 11; 2 0 9 10]);
  if (! isequal (B, [3 5 7 8; 2 4 7 9; 2 2 9 10]))
    error ("wrong median: %s", mat2str (B));
  end
end

function text = help_text (mex_dir)
  addpath (mex_dir);
  text = evalc ("help function_Varnets");
end

function help_shows_the_help_file (mex_dir)
  text = help_text (mex_dir);
  lines = strsplit (strtrim (text), "\n");
  h1 = find (! cellfun (@isempty, regexp (lines, '^FUNCTION_VARNETS  \S')), 1);
  if (isempty (h1))
    error ("no H1 line in:\n%s", text);
  end
  for needed = {"B = FUNCTION_VARNETS(A)", "B = FUNCTION_VARNETS(A, W)", ...
                "B = FUNCTION_VARNETS(A, W, T)", "See also medfilt2, ordfilt2."}
    if (isempty (strfind (text, needed{1})))
      error ("help text lacks '%s'", needed{1});
    end
  end
end

% Every identifier the gateway can raise is documented, in the help text
% and in the README, and the help text names none that does not exist.
function help_lists_every_error (mex_dir, source_dir)
  gateway = fileread (fullfile (source_dir, "gateway", "function_Varnets.cpp"));
  raised = unique (cellfun (@(t) t{1}, regexp (gateway, '"function_Varnets:(\w+)"', "tokens"), ...
                            "uniformoutput", false));
  raised(strcmp (raised, "internal")) = [];
  text = help_text (mex_dir);
  documented = unique (cellfun (@(t) t{1}, regexp (text, 'function_Varnets:(\w+)', "tokens"), ...
                                "uniformoutput", false));
  readme = fileread (fullfile (source_dir, "README.md"));
  for id = raised
    if (! any (strcmp (documented, id{1})))
      error ("help text does not list function_Varnets:%s", id{1});
    end
    if (isempty (regexp (readme, ['\<' id{1} '\>'], "once")))
      error ("README.md does not list %s", id{1});
    end
  end
  extra = setdiff (documented, [raised, {"notCompiled"}]);
  if (! isempty (extra))
    error ("help text lists identifiers nothing raises: %s", strjoin (extra, ", "));
  end
end

% The %! blocks of the help file check what the help text says.
function help_claims_hold (mex_dir)
  addpath (mex_dir);
  [passed, total] = test ("function_Varnets", "quiet", stdout);
  if (total == 0 || passed != total)
    error ("%d of %d self-tests of function_Varnets.m passed", passed, total);
  end
end

function help_file_alone_reports_not_compiled (mex_dir)
  alone = tempname ();
  mkdir (alone);
  copyfile (fullfile (mex_dir, "function_Varnets.m"), alone);
  rmpath (mex_dir);
  addpath (alone);
  unwind_protect
    try
      function_Varnets (1);
      error ("the help file alone returned a result");
    catch err
      if (! strcmp (err.identifier, "function_Varnets:notCompiled"))
        error ("identifier %s (%s)", err.identifier, err.message);
      end
      if (isempty (strfind (err.message, alone)))
        error ("the message does not name the folder: %s", err.message);
      end
    end_try_catch
  unwind_protect_cleanup
    rmpath (alone);
    addpath (mex_dir);
    confirm_recursive_rmdir (false, "local");
    rmdir (alone, "s");
  end_unwind_protect
end

function contents_lists_the_function (mex_dir)
  text = fileread (fullfile (mex_dir, "Contents.m"));
  if (isempty (regexp (text, '^%   function_Varnets - ', "lineanchors", "once")))
    error ("Contents.m does not list function_Varnets");
  end
end
