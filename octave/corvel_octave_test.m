% The command-line entry of corvel.mex under GNU Octave: sizes vectors,
% argument messages raised as Octave errors, and memory over many calls.
function failures = corvel_octave_test ()
  failures = 0;
  prefix = 'MEX level2 S-function "corvel"';
  flag_message = ['The 4th right hand argument, FLAG, passed to ' prefix ' must be an integer'];

  s = corvel (0, [], 0, 0, 2, -1, 3);
  expected = zeros (40, 1);
  expected([0 1 2 3 6 7 19 23 31] + 1) = [0 11 3 1 1 3 8480229 537403394 2];
  failures += check (isequal (size (s), [40 1]), 'the sizes vector is 40 by 1');
  failures += check (isequal (s, expected), 'the sizes of a valid block');

  bare = zeros (40, 1);
  bare([7 19 23] + 1) = [3 8480229 8192];
  failures += check (isequal (corvel ([], [], [], 0), bare), 'no parameters');
  failures += check (isequal (corvel ([], [], [], 0, 2, 0, 3), bare), 'a zero step size is not shown');
  failures += check (isequal (corvel ([], [], [], -0), bare), '-0 is the flag 0');

  % Octave's mexErrMsgTxt puts the MEX function's name before the text.
  failures += expect_error (@() corvel (0, [], 0), [prefix ' must be called with at least 4 right hand arguments']);
  failures += expect_error (@() two_outputs (), [prefix ' called with too many left hand arguments']);
  failures += expect_error (@() corvel (0, [], 0, [0 0]), flag_message);
  failures += expect_error (@() corvel (0, [], 0, 1i), flag_message);
  failures += expect_error (@() corvel (0, [], 0, 'a'), flag_message);
  failures += expect_error (@() corvel (0, [], 0, 0.5), flag_message);
  failures += expect_error (@() corvel (0, [], 0, NaN), flag_message);
  failures += expect_error (@() corvel (0, [], 0, 3), ['Invalid flag passed to ' prefix]);

  % Each call builds its SimStruct from mxCalloc memory that Octave reclaims.
  for k = 1:20000
    s = corvel (0, [], 0, 0, 2, 0.01, mod (k, 10) + 1);
  end
  failures += check (s(1 + 1) == 11, 'still answering after many calls');

  if (failures > 0)
    printf ('%d failed\n', failures);
  else
    printf ('corvel.mex under Octave: all cases passed\n');
  end
end

function two_outputs ()
  [a, b] = corvel (0, [], 0, 0);
end

function failed = check (condition, what)
  failed = ! condition;
  if (failed)
    printf ('FAIL: %s\n', what);
  end
end

function failed = expect_error (call, message)
  failed = true;
  try
    call ();
    printf ('FAIL: no error, expected "%s"\n', message);
  catch err
    failed = ! strcmp (err.message, ['corvel: ' message]);
    if (failed)
      printf ('FAIL: got "%s", expected "%s"\n', err.message, message);
    end
  end
end
